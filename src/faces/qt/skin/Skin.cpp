#include "faces/qt/skin/Skin.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

namespace vantrel {

namespace embedded {
extern const unsigned char skin_library[];
extern const std::size_t skin_library_size;
extern const unsigned char skin_resource[];
extern const std::size_t skin_resource_size;
}  // namespace embedded

struct MappedModule {
  void* handle = nullptr;
};

namespace {

#if defined(__x86_64__)
constexpr int kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr int kMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr int kMachine = EM_386;
#else
constexpr int kMachine = -1;  // not checked
#endif

bool InRange(std::size_t offset, std::size_t length, std::size_t size) {
  return offset <= size && length <= size - offset;
}

// The loader maps what the headers say; a cut or scribbled image must be
// refused here, before it maps pages past the end of the file.
bool WholeSharedObject(std::span<const unsigned char> image, std::string& why) {
  ElfW(Ehdr) header;
  if (image.size() < sizeof header) {
    why = "image too short for an ELF header";
    return false;
  }
  std::memcpy(&header, image.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
    why = "not an ELF image";
    return false;
  }
  const bool ours = header.e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) &&
                    header.e_ident[EI_DATA] ==
                        (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB) &&
                    header.e_type == ET_DYN && (kMachine < 0 || header.e_machine == kMachine);
  if (!ours) {
    why = "not a shared object for this machine";
    return false;
  }
  if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0 ||
      !InRange(header.e_phoff, std::size_t{header.e_phnum} * sizeof(ElfW(Phdr)), image.size())) {
    why = "program headers outside the image";
    return false;
  }
  std::vector<ElfW(Phdr)> segments(header.e_phnum);
  std::memcpy(segments.data(), image.data() + header.e_phoff, segments.size() * sizeof(ElfW(Phdr)));
  const ElfW(Phdr)* dynamic = nullptr;
  bool loads = false;
  for (const ElfW(Phdr)& segment : segments) {
    if (segment.p_type == PT_DYNAMIC) dynamic = &segment;
    if (segment.p_type != PT_LOAD) continue;
    loads = true;
    if (!InRange(segment.p_offset, segment.p_filesz, image.size()) || segment.p_filesz > segment.p_memsz) {
      why = "a segment reaches past the end of the image";
      return false;
    }
  }
  // The loader follows the addresses in the dynamic section without
  // checking them; each must lie in what is mapped, or it faults.
  auto loaded = [&](ElfW(Addr) address, std::size_t length, bool fromFile) {
    for (const ElfW(Phdr)& segment : segments) {
      if (segment.p_type != PT_LOAD || address < segment.p_vaddr) continue;
      if (InRange(address - segment.p_vaddr, length, fromFile ? segment.p_filesz : segment.p_memsz)) return true;
    }
    return false;
  };
  if (!loads || !dynamic || dynamic->p_filesz < sizeof(ElfW(Dyn)) ||
      !InRange(dynamic->p_offset, dynamic->p_filesz, image.size()) ||
      !loaded(dynamic->p_vaddr, dynamic->p_filesz, true)) {
    why = "no loadable dynamic section";
    return false;
  }
  bool ends = false;
  for (std::size_t at = 0; at + sizeof(ElfW(Dyn)) <= dynamic->p_filesz && !ends; at += sizeof(ElfW(Dyn))) {
    ElfW(Dyn) entry;
    std::memcpy(&entry, image.data() + dynamic->p_offset + at, sizeof entry);
    switch (entry.d_tag) {
      case DT_NULL:
        ends = true;
        break;
      case DT_PLTGOT: case DT_HASH: case DT_GNU_HASH: case DT_STRTAB: case DT_SYMTAB: case DT_RELA: case DT_REL:
      case DT_JMPREL: case DT_INIT: case DT_FINI: case DT_INIT_ARRAY: case DT_FINI_ARRAY: case DT_VERSYM:
      case DT_VERNEED: case DT_VERDEF:
        if (!loaded(entry.d_un.d_ptr, 1, false)) {
          why = "the dynamic section points outside the image";
          return false;
        }
        break;
      default:
        break;
    }
  }
  if (!ends) {
    why = "the dynamic section has no end";
    return false;
  }
  if (header.e_shnum != 0 &&
      !InRange(header.e_shoff, std::size_t{header.e_shnum} * header.e_shentsize, image.size())) {
    why = "section headers outside the image";
    return false;
  }
  return true;
}

bool WriteAll(int fd, std::span<const unsigned char> bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

MappedModule* skinLibrary = nullptr;

}  // namespace

MappedModule* LoadModuleFromMemory(std::span<const unsigned char> image, std::string* why) {
  std::string reason;
  auto fail = [&](int fd, std::string text) -> MappedModule* {
    if (fd >= 0) ::close(fd);
    if (why) *why = std::move(text);
    return nullptr;
  };
  if (!WholeSharedObject(image, reason)) return fail(-1, reason);
  int fd = ::memfd_create("vantrel-skin", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return fail(-1, std::string("memfd_create: ") + std::strerror(errno));
  if (!WriteAll(fd, image)) return fail(fd, std::string("writing the image: ") + std::strerror(errno));
  // Sealed, so that what the loader maps is what was checked above.
  ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  // The loader knows a module by the name it was opened under and hands back
  // the one it has for a name it saw before, even when that descriptor now
  // stands for another file. Each image gets a descriptor number this
  // process has not loaded from yet.
  static int nextNumber = 64;
  const int named = ::fcntl(fd, F_DUPFD_CLOEXEC, nextNumber);
  ::close(fd);
  if (named < 0) return fail(-1, std::string("no descriptor for the image: ") + std::strerror(errno));
  nextNumber = named + 1;
  const std::string path = "/proc/self/fd/" + std::to_string(named);
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* error = ::dlerror();
    return fail(named, error ? error : "the dynamic loader refused the image");
  }
  // The loader holds its own mappings; the descriptor is not needed any more.
  ::close(named);
  return new MappedModule{handle};
}

void* GetModuleExport(const MappedModule* module, const char* name) {
  if (!module || !name) return nullptr;
  ::dlerror();
  return ::dlsym(module->handle, name);
}

void FreeModuleFromMemory(MappedModule* module) {
  if (!module) return;
  ::dlclose(module->handle);
  delete module;
}

std::span<const unsigned char> EmbeddedSkinLibrary() {
  return {embedded::skin_library, embedded::skin_library_size};
}

std::span<const unsigned char> EmbeddedSkinResource() {
  return {embedded::skin_resource, embedded::skin_resource_size};
}

void ApplySkinFrom(const MappedModule* module, std::span<const unsigned char> resource, int hue, int saturation) {
  if (!module) return;
  using AttachRes = int (*)(const unsigned char*, int, const char*);
  using AdjustHsv = int (*)(int, int);
  if (auto attach = reinterpret_cast<AttachRes>(GetModuleExport(module, "SkinH_AttachRes"))) {
    const int length = static_cast<int>(std::min<std::size_t>(resource.size(), 0x7fffffff));
    attach(resource.data(), length, nullptr);
  }
  saturation = std::clamp(saturation, -100, 100);
  hue = std::clamp(hue, -180, 180);
  if (auto adjust = reinterpret_cast<AdjustHsv>(GetModuleExport(module, "SkinH_AdjustHSV"))) adjust(hue, saturation);
}

void ApplySkin(std::span<const unsigned char> resource, int hue, int saturation) {
  if (!skinLibrary) skinLibrary = LoadModuleFromMemory(EmbeddedSkinLibrary());
  ApplySkinFrom(skinLibrary, resource, hue, saturation);
}

}  // namespace vantrel
