#pragma once

#include <QString>

// What the device commands load, save and verify configurations through: the
// configuration window in the console, a file-backed implementation on the command line.
// Every operation returns 0 on success and -1 on failure and shows nothing.
class ConfigTarget
{
public:
    virtual ~ConfigTarget() = default;

    // Reads a configuration file into the target's settings. Either way every setting gets
    // a value (empty when the file gave none).
    virtual int LoadConfigFile(const QString& fileName) = 0;
    // Writes the target's selected settings to fileName. A non-empty modelName becomes the
    // first line (the per-device files of a write); an empty one writes no such line.
    virtual int SaveConfigFile(const QString& modelName, const QString& fileName) = 0;
    // 0 when file B (read back from the device) confirms file A (written for it).
    virtual int VerifyConfigFiles(const QString& fileA, const QString& fileB) = 0;
};
