#include "support/hash/crc32.h"

#include <mutex>
#include <new>

#include "support/hash/crc32_kernels.h"

namespace VORN {
namespace {

// Class-wide and read-only once built; call_once makes concurrent first constructions wait
// for the one that builds.
Crc32Tables g_tables;
std::uint32_t g_tablesPolynomial = 0;
std::once_flag g_tablesBuilt;

}  // namespace

CCrc32::CCrc32(std::uint32_t polynomial) : tables_(&g_tables) {
    std::call_once(g_tablesBuilt, [polynomial] {
        BuildCrc32Tables(polynomial, g_tables);
        g_tablesPolynomial = polynomial;
    });
    if (polynomial != g_tablesPolynomial) {
        ownTables_.reset(new (std::nothrow) Crc32Tables);
        // Without memory the class-wide tables are the only ones left to use.
        if (ownTables_) {
            BuildCrc32Tables(polynomial, *ownTables_);
            tables_ = ownTables_.get();
        }
    }
}

CCrc32::~CCrc32() = default;

std::uint32_t CCrc32::Update(const void* data, std::uint32_t length) {
    if (data != nullptr && length != 0)
        register_ =
            Crc32UpdateFolded(*tables_, register_, static_cast<const unsigned char*>(data), length);
    return ~register_;
}

void CCrc32::Reset() {
    register_ = 0xFFFFFFFFu;
}

void CCrc32::GetAlgorithmName(char** name) const {
    CopyAlgorithmName("CRC32", name);
}

std::uint32_t CCrc32::Reflect(std::uint32_t value, int bits) {
    if (bits > 32) bits = 32;
    std::uint32_t mirrored = 0;
    for (int i = 0; i < bits; ++i) {
        if (value & 1u) mirrored |= 1u << (bits - 1 - i);
        value >>= 1;
    }
    return mirrored;
}

}  // namespace VORN
