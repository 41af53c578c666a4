// A private home for one support-tool test, with the main program's config.ini in it.
#pragma once

#include "config/IniFile.h"
#include "tests/helpers/TempHome.h"

#include <QString>

#include <filesystem>
#include <string>

class SupportTestHome {
public:
    SupportTestHome() = default;

    std::filesystem::path DataFolder() const { return home_.Root() / "data/Corvane/Vellumark"; }
    std::filesystem::path ConfigPath() const { return DataFolder() / "config.ini"; }
    std::filesystem::path Documents() const { return home_.Home() / "Documents"; }

    // Writes config.ini with the lines of section "general" given.
    void WriteConfig(const std::string& general_lines) const
    {
        WriteFileBytes(ConfigPath(), "[general]\n" + general_lines);
    }
    // The stored text of a key of section "general"; "(missing)" when there is none.
    QString Value(const std::string& key) const
    {
        IniFile config(ConfigPath().string());
        const std::string text = config.ReadRaw("general", key);
        return text.empty() ? QStringLiteral("(missing)") : QString::fromStdString(text);
    }

private:
    TempHome home_;
};
