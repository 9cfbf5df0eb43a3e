#include "foundation/ftconfigbase.h"

#include "foundation/debuglog.h"
#include "foundation/inifile.h"

namespace {

constexpr const char* DefaultExactTime = "18:00";
constexpr const char* SectionGeneral = "General";

std::string DirectorySection(int index)
{
    return "Directory" + std::to_string(index);
}

}  // namespace

void RaiseWrongAssign()
{
    throw EConvertError("Attemp to assign wront object to TBaseFtConfig.");
}

TBaseFtConfig::TBaseFtConfig() = default;

void TBaseFtConfig::AssignTo(TBaseFtConfig* dest) const
{
    if (dest == nullptr)
        RaiseWrongAssign();
    dest->CopyFrom(*this);
}

void TBaseFtConfig::Assign(const TBaseFtConfig* source)
{
    if (source == nullptr)
        RaiseWrongAssign();
    CopyFrom(*source);
}

void TBaseFtConfig::CopyFrom(const TBaseFtConfig& source)
{
    LogDetailed = source.LogDetailed;
    TimeBetweenActions = source.TimeBetweenActions;
    TrackDirectories = source.TrackDirectories;
    ExactTimeMode = source.ExactTimeMode;
    ExactTime.SetText(source.ExactTime.GetText());
}

void TBaseFtConfig::LoadFromIni(const TCustomIniFile& ini)
{
    LogDetailed = ini.ReadBool(SectionGeneral, "LogDetailed", false);
    TimeBetweenActions = ini.ReadInteger(SectionGeneral, "TimeBetweenActions", 60);
    ExactTimeMode = ini.ReadBool(SectionGeneral, "ExactTimeMode", false);
    ExactTime.SetText(ini.ReadString(SectionGeneral, "ExactTime", DefaultExactTime));
    if (ExactTime.Count() == 0)
        ExactTime.SetText(DefaultExactTime);
    for (int n = 0; n < TrackDirectoryCount; ++n)
        TrackDirectories[n] = ini.ReadString(DirectorySection(n), "TrackDirectory", "");
}

void TBaseFtConfig::SaveToIni(TCustomIniFile& ini) const
{
    ini.WriteBool(SectionGeneral, "LogDetailed", LogDetailed);
    ini.WriteInteger(SectionGeneral, "TimeBetweenActions", TimeBetweenActions);
    ini.WriteBool(SectionGeneral, "ExactTimeMode", ExactTimeMode);
    ini.WriteString(SectionGeneral, "ExactTime", ExactTime.GetText());
    for (int n = 0; n < TrackDirectoryCount; ++n)
        ini.WriteString(DirectorySection(n), "TrackDirectory", TrackDirectories[n]);
}

void TBaseFtConfig::LoadFromFile(const std::string& path)
{
    try {
        TMemIniFile ini(path);
        try {
            LoadFromIni(ini);
        } catch (const std::exception& e) {
            WriteLog(3, Format("Error reading data from %s : %s", path.c_str(), e.what()));
        }
        ini.UpdateFile();
    } catch (const std::exception& e) {
        WriteLog(3, Format("Error reading data from %s : %s", path.c_str(), e.what()));
    }
}

void TBaseFtConfig::SaveToFile(const std::string& path) const
{
    // The keys gather in memory and reach the file in one replacement, so a failed save
    // leaves the old file whole.
    try {
        TMemIniFile ini(path);
        SaveToIni(ini);
        ini.UpdateFile();
    } catch (const std::exception& e) {
        WriteLog(3, Format("Error writing data to %s : %s", path.c_str(), e.what()));
    }
}
