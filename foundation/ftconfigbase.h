// Settings of a file-tracking service: log detail, check schedule and the tracked directories,
// loaded from and saved to the service's INI file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/timelist.h"

class TCustomIniFile;

constexpr int TrackDirectoryCount = 64;

class TBaseFtConfig {
public:
    TBaseFtConfig();
    virtual ~TBaseFtConfig() = default;
    TBaseFtConfig(const TBaseFtConfig&) = delete;
    TBaseFtConfig& operator=(const TBaseFtConfig&) = delete;

    // Copies this object into dest with dest's CopyFrom; raises EConvertError for no
    // destination or one that cannot take this object's settings.
    virtual void AssignTo(TBaseFtConfig* dest) const;
    // Copies source with this object's CopyFrom; raises EConvertError for no source.
    virtual void Assign(const TBaseFtConfig* source);
    // Copies every setting of this level; overrides call the inherited one first.
    virtual void CopyFrom(const TBaseFtConfig& source);
    // Read or write the keys of this level; errors (a refused check-time text, a refused
    // write) pass on to the caller.
    virtual void LoadFromIni(const TCustomIniFile& ini);
    virtual void SaveToIni(TCustomIniFile& ini) const;

    // Never raise: a failure is logged as an error and the object stays as far as it got.
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path) const;

    // No range test: callers pass 0 to 63.
    std::string GetTrackDirectory(int index) const { return TrackDirectories[index]; }
    void SetTrackDirectory(int index, const std::string& path) { TrackDirectories[index] = path; }

    bool LogDetailed = false;
    int32_t TimeBetweenActions = 60;  // seconds
    bool ExactTimeMode = false;
    TTimeList ExactTime{"18:00"};
    std::array<std::string, TrackDirectoryCount> TrackDirectories;
};

// Raised by Assign, AssignTo and CopyFrom for a pairing of settings objects they cannot copy.
[[noreturn]] void RaiseWrongAssign();

// A settings class chosen at run time: builds an object of that class with its own defaults.
using TBaseFtConfigClass = std::function<std::unique_ptr<TBaseFtConfig>()>;

template <class T>
TBaseFtConfigClass ConfigClassOf()
{
    return [] { return std::make_unique<T>(); };
}
