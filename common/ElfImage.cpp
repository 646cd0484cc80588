#include "ElfImage.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ElfImage {
namespace {

using Header = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);
using SectionHeader = ElfW(Shdr);

template <typename T> bool readAt(int fd, quint64 offset, T *out)
{
    return ::pread(fd, out, sizeof(T), off_t(offset)) == ssize_t(sizeof(T));
}

// The header of the running program: what "this machine" means.
const Header &ownHeader()
{
    static const Header header = [] {
        Header own = {};
        const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            readAt(fd, 0, &own);
            ::close(fd);
        }
        return own;
    }();
    return header;
}

// Whether count entries of entrySize bytes from offset end within size.
bool within(quint64 offset, quint64 count, quint64 entrySize, quint64 size)
{
    return offset <= size && count <= (size - offset) / std::max<quint64>(entrySize, 1);
}

} // namespace

bool isWholeExecutable(int fd)
{
    struct stat info = {};
    Header header = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !readAt(fd, 0, &header))
        return false;
    const Header &own = ownHeader();
    const quint64 size = quint64(info.st_size);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || std::memcmp(own.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != own.e_ident[EI_CLASS] ||
        header.e_ident[EI_DATA] != own.e_ident[EI_DATA] || header.e_ident[EI_VERSION] != EV_CURRENT ||
        header.e_machine != own.e_machine || (header.e_type != ET_EXEC && header.e_type != ET_DYN))
        return false;

    // A program has program headers; they give the segments the loader maps.
    if (header.e_phnum == 0 || header.e_phentsize != sizeof(ProgramHeader) ||
        !within(header.e_phoff, header.e_phnum, sizeof(ProgramHeader), size))
        return false;
    for (quint64 i = 0; i < header.e_phnum; ++i) {
        ProgramHeader segment = {};
        if (!readAt(fd, header.e_phoff + i * sizeof(ProgramHeader), &segment) ||
            (segment.p_type != PT_NULL && !within(segment.p_offset, segment.p_filesz, 1, size)))
            return false;
    }

    if (header.e_shoff == 0)
        return true;
    // With 0 in e_shnum, the first section's size holds a count too large for it.
    quint64 sections = header.e_shnum;
    SectionHeader first = {};
    if (header.e_shentsize != sizeof(SectionHeader) ||
        !within(header.e_shoff, 1, sizeof(SectionHeader), size) || !readAt(fd, header.e_shoff, &first))
        return false;
    if (sections == 0)
        sections = first.sh_size;
    return within(header.e_shoff, sections, sizeof(SectionHeader), size);
}

} // namespace ElfImage
