// The shader packer's verification: every program of a package (or a fixed
// sample of them) compiled on the GL backend of our Direct3D 9, the way the
// game's device compiles it when it first draws with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d9/D3D9.h"

struct PackageEntry {
    std::string key;  // profile followed by the program name
    std::vector<std::uint8_t> body;
};

// Every entry of a package file (a host path), in file order; false with error when the
// file cannot be read or is damaged.
bool readShaderPackage(const std::string& path, std::vector<PackageEntry>& entries, std::string& error);

// The keys of a small deterministic sample: every standalone program, and
// of every family walk the first and last permutation with `between`
// evenly spread ones.
std::vector<std::string> sampleShaderKeys(int between);

// Creates the entry's vertex or pixel shader (by the key's profile) on the
// device; false when the device refuses it (the reason goes to the device's
// message sink).
bool compileShaderEntry(IDirect3DDevice9* device, const PackageEntry& entry);
