#include "platform/version/verresource.h"

#include <cstring>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/filecontent.h"
#include "platform/files/filedescriptor.h"

namespace {

bool LibelfReady()
{
    static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
    return ready;
}

class TElfFile {
public:
    explicit TElfFile(int fd) : Elf(elf_begin(fd, ELF_C_READ, nullptr)) {}
    ~TElfFile()
    {
        if (Elf != nullptr)
            elf_end(Elf);
    }
    TElfFile(const TElfFile&) = delete;
    TElfFile& operator=(const TElfFile&) = delete;
    ::Elf* Elf;
};

bool ReadVersionSection(::Elf* elf, std::vector<uint8_t>& data)
{
    size_t namesIndex = 0;
    if (elf_getshdrstrndx(elf, &namesIndex) != 0)
        return false;
    for (Elf_Scn* section = elf_nextscn(elf, nullptr); section != nullptr; section = elf_nextscn(elf, section)) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) == nullptr)
            return false;
        const char* name = elf_strptr(elf, namesIndex, header.sh_name);
        if (name == nullptr || std::strcmp(name, VersionSectionName) != 0)
            continue;
        if (header.sh_type == SHT_NOBITS)
            return false;
        Elf_Data* contents = elf_getdata(section, nullptr);
        if (contents == nullptr || contents->d_buf == nullptr || contents->d_size == 0)
            return false;
        const auto* bytes = static_cast<const uint8_t*>(contents->d_buf);
        data.assign(bytes, bytes + contents->d_size);
        return true;
    }
    return false;
}

}  // namespace

bool GetFileVersionInfo(const std::string& fileName, std::vector<uint8_t>& data)
{
    data.clear();
    if (!LibelfReady())
        return false;
    struct stat status {};
    const ferrix::TFileDescriptor file = ferrix::OpenRegularFile(fileName, true, status);
    if (!file.Valid())
        return false;
    TElfFile elf(file.Get());
    if (elf.Elf == nullptr || elf_kind(elf.Elf) != ELF_K_ELF)
        return false;
    if (!ReadVersionSection(elf.Elf, data)) {
        data.clear();
        return false;
    }
    return true;
}
