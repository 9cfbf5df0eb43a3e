// Change detection for one data directory and one destination: the directory's files are
// compared with the directory status file written after the last transfer, the changed ones are
// handed to a file handler, and the status file is rewritten with every file now at the destination.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/sysutils.h"
#include "platform/files/filedescriptor.h"

struct TFileStatus {
    uint32_t Size = 0;        // low 32 bits of the size in bytes
    TDateTime LastWrite = 0;  // last-write time stamp, UTC
    bool Changed = true;      // to be handed over / not at the destination
};

// Delivers one file: true when it was delivered. Clearing continueFlag stops the run after this file.
using TFileHandler =
    std::function<bool(const std::string& fullPath, const std::string& entryText, bool& continueFlag)>;

// The listed file names, each with its status. Names compare case-insensitively; the list is
// filled unsorted, sorted once, then searched.
class TDirectoryItems {
public:
    struct TItem {
        std::string Name;
        TFileStatus Status;
    };

    void Reserve(size_t count) { FItems.reserve(count); }
    void Add(std::string name, const TFileStatus& status);
    void Sort();
    // Index of the name, or -1. Among names that differ only in case the exact one is preferred.
    // The item at hint, when it holds exactly that name, is taken without a search.
    int IndexOf(std::string_view name, int hint = -1) const;
    int Count() const { return static_cast<int>(FItems.size()); }
    TItem& operator[](int index) { return FItems[static_cast<size_t>(index)]; }
    const TItem& operator[](int index) const { return FItems[static_cast<size_t>(index)]; }

private:
    std::vector<TItem> FItems;
};

// Whether a status line can hold the name without forging fields or lines: no TAB, CR or LF in it.
// A name beginning with "#", a blank or a control character is held but does not read back (the
// reader skips comments and lines led by a blank or control character): that file is sent in
// every pass.
bool StatusLineHolds(std::string_view name);

// Applies the text of a status file to sorted items: each line naming a listed file sets its
// Changed flag. baseBias (minutes, UTC = local + bias) converts lines written in local time.
// Reading stops at the first line whose time is out of range.
void ReadStatusText(TDirectoryItems& items, std::string_view text, int baseBias);

// The text of a status file: the four header lines, then one line per item whose Changed flag
// is false. localNow and bias go into the header.
std::string WriteStatusText(const std::string& dirPath, const std::string& extension, const TDirectoryItems& items,
                            TDateTime localNow, int bias);

class TDirectoryList {
public:
    // Lists dirPath's files of "*." + extension and compares them with the status file.
    // Raises Exception when the directory does not exist.
    TDirectoryList(const std::string& dirPath, const std::string& extension, const std::string& entryText,
                   const std::string& statusFileName);
    // The same for the directory open as directory, which dirPath names: the listing, the status
    // file and the files handed over are reached through it, never through a link. Raises
    // Exception, naming dirPath, when directory is not valid.
    TDirectoryList(ferrix::TFileDescriptor directory, const std::string& dirPath, const std::string& extension,
                   const std::string& entryText, const std::string& statusFileName);
    virtual ~TDirectoryList() = default;
    TDirectoryList(const TDirectoryList&) = delete;
    TDirectoryList& operator=(const TDirectoryList&) = delete;

    // Hands each changed file to the handler, last name first, and counts the results; the
    // BadNames count as not sent. Never raises.
    void ProcessChanged(const TFileHandler& handler);
    // Replaces the status file as a whole; never through a link. Raises EInOutError, its text
    // naming the file, when the file cannot be written.
    void SaveStatusFile();

    const std::string& DirPath() const { return FDirPath; }
    const ferrix::TFileDescriptor& Directory() const { return FDirectory; }
    const std::string& Extension() const { return FExtension; }
    const std::string& EntryText() const { return FEntryText; }
    const std::string& StatusFileName() const { return FStatusFileName; }
    const TDirectoryItems& Items() const { return FItems; }
    int OKCount() const { return FOKCount; }
    int BadCount() const { return FBadCount; }
    // Names of the mask left out because a status line cannot hold them exactly (see
    // StatusLineHolds): they are never handed over and never recorded.
    const std::vector<std::string>& SkippedNames() const { return FSkippedNames; }
    // Names of the mask whose time stamp no date holds (before 1601 or after 9999): never handed
    // over, never recorded, and counted as not sent.
    const std::vector<std::string>& BadNames() const { return FBadNames; }

private:
    void Scan();
    void ReadStatusFile();

    ferrix::TFileDescriptor FDirectory;
    std::string FDirPath;
    std::string FExtension;
    std::string FEntryText;
    std::string FStatusFileName;
    TDirectoryItems FItems;
    std::vector<std::string> FSkippedNames;
    std::vector<std::string> FBadNames;
    int FOKCount = 0;
    int FBadCount = 0;
    int FBaseBias = 0;
};
