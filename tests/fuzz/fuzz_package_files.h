// A package of stored records built in memory from (name, bytes) pairs,
// already unscrambled as the file layer reads it, for the targets that read
// package files through a controller.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/CTRL_Array.h"
#include "package/CTRL_File.h"
#include "package/CTRL_PackageLoad.h"

inline CTRL_Package* FUZZ_iMakePackage(const std::vector<std::pair<std::string, std::string>>& files)
{
    std::string bytes;
    auto u16 = [&](uint32_t v) {
        bytes += char(v & 0xFF);
        bytes += char((v >> 8) & 0xFF);
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    for (const auto& [name, data] : files) {
        u32(CTRL_RECORD_MAGIC);
        u16(10);
        u16(0);
        u16(0);  // stored
        u16(0);
        u16(0);
        u32(0);
        u32(uint32_t(data.size()));
        u32(uint32_t(data.size()));
        u16(uint32_t(name.size()));
        u16(0);
        bytes += name;
        bytes += data;
    }
    bytes.append(CTRL_SIGNATURE_SIZE, '\0');
    auto* p = new CTRL_Package();
    if (CTRL_iResizeByteBuffer(p, uint32_t(bytes.size()))) std::memcpy(p->data, bytes.data(), bytes.size());
    return p;
}
