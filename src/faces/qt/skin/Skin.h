#pragma once
// The skin: our skin library, carried inside the executable and loaded from
// memory so that no file of it is ever written to disk, and the skin it
// draws. Any failure keeps the ordinary look; nothing else depends on it.
#include <cstddef>
#include <span>
#include <string>

namespace vantrel {

struct MappedModule;

// A shared object in memory, handed to the dynamic loader through an
// anonymous memory file. Null when the image is not a whole shared object
// for this machine or the loader refuses it; then nothing stays behind (no
// mapping, no descriptor). `why` gets the reason.
MappedModule* LoadModuleFromMemory(std::span<const unsigned char> image, std::string* why = nullptr);
// The address of an exported function, or null.
void* GetModuleExport(const MappedModule* module, const char* name);
void FreeModuleFromMemory(MappedModule* module);

std::span<const unsigned char> EmbeddedSkinLibrary();
std::span<const unsigned char> EmbeddedSkinResource();

// Loads the embedded library on first use (it then stays for the life of the
// process), hands it the skin and tints it. Hue is clamped to -180..180 and
// saturation to -100..100.
void ApplySkin(std::span<const unsigned char> resource, int hue = 0, int saturation = 0);
// The same calls on a module the caller loaded; a missing export skips its call.
void ApplySkinFrom(const MappedModule* module, std::span<const unsigned char> resource, int hue, int saturation);

}  // namespace vantrel
