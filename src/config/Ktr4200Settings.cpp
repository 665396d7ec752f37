#include "config/Ktr4200Settings.h"

namespace {

QList<Ktr4200Setting> BuildSettings()
{
    QList<Ktr4200Setting> s = {
        {"ip", "PanelIP", "ChkIP"},
        {"mask", "PanelMask", "ChkIP"},
        {"gateway", "PanelGateway", "ChkGateway"},
        {"dhcp_client_status", "CBoxDhcpCliStatus", "ChkDhcpCliStatus"},
        {"device_name", "EdDeviceName", "ChkDeviceName"},
        {"11a_11b_connection", "CBox11a11bConnection", "Chk11a11bConnection"},
        {"telnet_option", "CBoxTelnetOption", "ChkTelnet"},
        {"telnet_timeout", "CBoxTelnetTimeout", "ChkTelnetTimeout"},
        {"country_code", "CBoxCountry", ""},
        {"get_reg_domain", "EdRegDomain", ""},
        {"80211a_auth_type", "CBox11aAuthType", "Chk11aAuthType"},
        {"80211a_wep_status", "CBox11aWepStatus", "Chk11aAuthType"},
        {"80211a_channel", "CBox11aChannel", "Chk11aChannel"},
        {"80211a_rate", "CBox11aRate", "Chk11aRate"},
        {"80211a_tx_power", "CBox11aTxPower", "Chk11aTxPower"},
        {"80211a_ssid", "Ed11aSSid", "Chk11aSSid"},
        {"80211a_beacon_interval", "Ed11aBconInterval", "Chk11aBconInterval"},
        {"80211a_dtim", "Ed11aDtim", "Chk11aDtim"},
        {"80211a_frag_threshold", "Ed11aFragThreshold", "Chk11aFragThreshold"},
        {"80211a_rts_threshold", "Ed11aRtsThreshold", "Chk11aRtsThreshold"},
        {"80211a_unipkt_sta2sta", "CBox11aUnipkt_sta2sta", "Chk11aUnipkt_sta2sta"},
        {"80211a_broadpkt_ap2sta", "CBox11aBroadpkt_ap2sta", "Chk11aBroadpkt_ap2sta"},
        {"80211a_active_key_index", "CBox11aKeyIdx", "Chk11aActKeyIdx"},
    };
    for (int k = 1; k <= 4; ++k) {
        s.append({QStringLiteral("80211a_wep_key%1").arg(k), QStringLiteral("Ed11aWepKey%1").arg(k),
                  QStringLiteral("Chk11aWepKey%1").arg(k)});
    }
    s.append({
        {"80211a_acl_mode", "CBox11aAclMode", "Chk11aAclMode"},
        {"80211a_turbo_mode", "CBox11aTurboMode", "Chk11aTurboMode"},
        {"80211b_auth_type", "CBox11bAuthType", "Chk11bAuthType"},
        {"80211b_wep_status", "CBox11bWepStatus", "Chk11bAuthType"},
        {"80211b_channel", "CBox11bChannel", "Chk11bChannel"},
        {"80211b_rate", "CBox11bRate", "Chk11bRate"},
        {"80211b_tx_power", "CBox11bTxPower", "Chk11bTxPower"},
        {"80211b_ssid", "Ed11bSSid", "Chk11bSSid"},
        {"80211b_beacon_interval", "Ed11bBconInterval", "Chk11bBconInterval"},
        {"80211b_dtim", "Ed11bDtim", "Chk11bDtim"},
        {"80211b_frag_threshold", "Ed11bFragThreshold", "Chk11bFragThreshold"},
        {"80211b_rts_threshold", "Ed11bRtsThreshold", "Chk11bRtsThreshold"},
        {"80211b_unipkt_sta2sta", "CBox11bUnipkt_sta2sta", "Chk11bUnipkt_sta2sta"},
        {"80211b_broadpkt_ap2sta", "CBox11bBroadpkt_ap2sta", "Chk11bBroadpkt_ap2sta"},
        {"80211b_active_key_index", "CBox11bKeyIdx", "Chk11bActKeyIdx"},
    });
    for (const int bits : {64, 128, 256}) {
        for (int k = 1; k <= 4; ++k) {
            s.append({QStringLiteral("80211b_wep%1_key%2").arg(bits).arg(k),
                      QStringLiteral("Ed11bWep%1Key%2").arg(bits).arg(k),
                      QStringLiteral("Chk11bWep%1").arg(bits)});
        }
    }
    s.append({"80211b_acl_mode", "CBox11bAclMode", "Chk11bAclMode"});
    return s;
}

} // namespace

const QList<Ktr4200Setting>& Ktr4200Settings()
{
    static const QList<Ktr4200Setting> settings = BuildSettings();
    return settings;
}

ConfigBindingList MakeKtr4200BindingList()
{
    ConfigBindingList list;
    for (const Ktr4200Setting& setting : Ktr4200Settings())
        list.Bind(setting.key);
    return list;
}
