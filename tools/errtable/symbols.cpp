#include "symbols.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <link.h>
#include <unistd.h>

#include <cstdint>

namespace errtable {

namespace {

// The name of the object symbol at value in the section of type kind, empty when none.
std::string find_in(Elf* elf, Elf64_Word kind, GElf_Addr value) {
    for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn != nullptr; scn = elf_nextscn(elf, scn)) {
        GElf_Shdr header;
        if (gelf_getshdr(scn, &header) == nullptr || header.sh_type != kind) continue;
        Elf_Data* data = elf_getdata(scn, nullptr);
        if (data == nullptr || header.sh_entsize == 0) continue;
        const std::size_t count = header.sh_size / header.sh_entsize;
        for (std::size_t i = 0; i < count; ++i) {
            GElf_Sym sym;
            if (gelf_getsym(data, static_cast<int>(i), &sym) == nullptr) break;
            if (GELF_ST_TYPE(sym.st_info) != STT_OBJECT || sym.st_value != value) continue;
            const char* name = elf_strptr(elf, header.sh_link, sym.st_name);
            if (name != nullptr && *name != '\0') return name;
        }
    }
    return {};
}

}  // namespace

std::string symbol_at(const void* address) {
    Dl_info info;
    link_map* map = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
        map == nullptr || info.dli_fname == nullptr || *info.dli_fname == '\0')
        return {};
    const GElf_Addr value = reinterpret_cast<std::uintptr_t>(address) - map->l_addr;
    if (elf_version(EV_CURRENT) == EV_NONE) return {};
    const int fd = open(info.dli_fname, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string name;
    if (Elf* elf = elf_begin(fd, ELF_C_READ, nullptr)) {
        name = find_in(elf, SHT_SYMTAB, value);
        if (name.empty()) name = find_in(elf, SHT_DYNSYM, value);
        elf_end(elf);
    }
    close(fd);
    return name;
}

}  // namespace errtable
