#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target, taken from the values the tests use, into
the folder given (one sub-folder per target). Structured targets read their fields as
libFuzzer's data provider does: strings end at a backslash followed by another byte, the
leading choice byte is taken from the end."""
import os
import sys

out = sys.argv[1]


def put(target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)


def fields(*parts):
    # Each field but the last ends with "\\;", the provider's string terminator.
    return b"".join(p.encode("utf-8") + b"\\;" for p in parts[:-1]) + parts[-1].encode("utf-8")


# NIMP replies: a discovery reply, a Get reply and a Set reply as the wire tests build them.
def nimp(command, number, status, mac, records):
    length = 36 + len(records)
    head = bytes([0x09, 0x2B, 0x13, 0x38, command, number, length >> 8, length & 0xFF, 0, 0, status, 0])
    return head + bytes(16) + mac + b"\x01" + records


def record(rid, value):
    return bytes([rid, len(value) >> 8, len(value) & 0xFF]) + value


mac = bytes.fromhex("021A2B123456")
disc = (record(1, b"KTR-4200") + record(2, mac) + record(3, bytes([10, 0, 0, 20])) +
        record(4, bytes([255, 255, 255, 0])) + record(12, b"2.01") + record(251, b"lab"))
put("fuzz_nimp_reply", "discover", nimp(1, 0, 0, mac, disc))
put("fuzz_nimp_reply", "get_version", nimp(5, 7, 0, mac, record(12, b"1.2.3")))
put("fuzz_nimp_reply", "get_ip", nimp(5, 9, 0, mac, record(3, bytes([10, 0, 0, 1])) + record(4, bytes([255, 0, 0, 0]))))
put("fuzz_nimp_reply", "set_wrong_password", nimp(3, 0xFF, 1, mac, b""))

# TFTP: the first byte chooses listening socket (0), read session (1), write session (2).
def tftp(mode, *packets):
    body = b"".join(p + b"\\;" for p in packets[:-1]) + packets[-1]
    return body + bytes([mode])


def req(op, name, m=b"octet"):
    return bytes([0, op]) + name + b"\0" + m + b"\0"


put("fuzz_tftp_server", "rrq", tftp(0, req(1, b"small.bin")))
put("fuzz_tftp_server", "wrq", tftp(0, req(2, b"new.cfg")))
put("fuzz_tftp_server", "rrq_outside", tftp(0, req(1, b"../etc/passwd")))
put("fuzz_tftp_server", "read_acks", tftp(1, b"\x00\x04\x00\x01", b"\x00\x04\x00\x02", b"\x00\x04\x00\x02"))
put("fuzz_tftp_server", "write_data", tftp(2, b"\x00\x03\x00\x01" + b"y" * 512, b"\x00\x03\x00\x02" + b"z" * 10))
put("fuzz_tftp_server", "error", tftp(1, b"\x00\x05\x00\x01oops\x00"))

# Configuration pairs: the file written for a device and the one read back from it.
cfg = "\r\n".join([
    "KTR-4200", "device_name =lab", "ip =10.0.0.20", "gateway =10.0.0.1", "country_code =US",
    "get_reg_domain =fcc", "80211a_channel =36", "80211a_wep_status =enable",
    "80211a_wep64_key =0x01 0x02 0x03 0x04 0x05", "80211a_wep64_key =keep 0x00 0x00 0x00 0x00",
    "80211a_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A 0x0B 0x0C 0x0D",
    "80211a_wep64_key =empty", "80211a_acl_mode =allow", "80211a_acl_clr =",
    "80211a_acl_mac_add =02:1A:2B:00:00:01", "80211b_dtim =3", "80211b_auth_type =shared",
    "80211b_wep64_key =0xAA 0xBB 0xCC 0xDD 0xEE", "80211b_acl_mode =disable", "80211b_acl_clr =",
    "80211b_acl_mac_add =02:1A:2B:00:00:02", "firmware_version =2.01", ""])
back = cfg.replace("\r\n", "\n").replace("device_name =lab", "device_name=lab")
put("fuzz_config_files", "pair", cfg.replace("\\", "") + "\\;" + back)
put("fuzz_config_files", "same", cfg + "\\;" + cfg)

# Filters with references into Discovery (group), Version and IP.
vals = ["", "KTR-4200", "021A2B123456", "10.0.0.20", "255.255.255.0", "2.01", "lab", "2.01", "10.0.0.20", "255.0.0.0"]
put("fuzz_condition", "model", fields(*vals, '"$0.0"="KTR-4200" | "$0.0"="KTR-4200A"'))
put("fuzz_condition", "nested", fields(*vals, '($1>=2.0 & !($2.0="0.0.0.0")) | false'))
put("fuzz_condition", "now", fields(*vals, 'NOW>"1" & (TRUE | x=y)'))

for i, c in enumerate(["%u", "%u{}", "%i{n5x300}", "%u{n0x255e.l3a}", "%n.", "%n,{l4f}", "%s{w80l8}",
                       "%h{l12f}", "%f{n0.5x99.5}", "%s{l3aa}", "%i{x5x9}", "%n;", "10.0.0.1"]):
    put("fuzz_edit_constraint", "c%d" % i, c)

ini = "; system settings\r\n[System]\r\nNimpAddress=127.0.0.1\r\nTimeout = 100 \r\n\r\n[Main Form]\r\nLeft=10\r\n"
put("fuzz_profile", "system", fields("System", "Timeout", "NimpAddress", "250", ini))
put("fuzz_profile", "new_section", fields("Set IP", "Mask", "Left", "255.255.255.0", "[Main Form]\nLeft=1"))
put("fuzz_profile", "bom", fields("main form", "left", "top", "3", "\ufeff[Main Form]\nleft=1\n"))

for name, hexv in [("password", "3B032F3CB13DDA8508000000"),
                   ("long", "5EDB7C04BEE46CC9BD6AFB50C30D2F2F0F000000"), ("empty", "00000000"),
                   ("negative", "00000000FFFFFFFF")]:
    put("fuzz_decrypt", name, hexv)
