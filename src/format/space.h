// Space trees: which pages an object owns, and which of those are free.
//
// Every tree's root page keeps a 16-byte space description in tag 0 (the engine's
// SPACE_HEADER): the pages first allocated, the parent's root page, flags, and for a
// tree that owns more than its first extent the root of its owned-extent tree (the
// available-extent tree is always the next page). The database itself is such an
// object: its root is page 1, and its owned-extent tree lists every page the database
// has grown to, whatever table uses them — so it says how long the file must be.
//
// An entry of either extent tree describes one run of pages: the key is the run's
// last page number, big-endian (4 bytes); a 5-byte key starts with a flags byte whose
// top bit marks the pooled form of available extents, its low bits the pool. The data
// is the run's page count, little-endian (4 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow {

// The database's own tree (pgnoSystemRoot) and its object id (objidSystemRoot).
inline constexpr std::uint32_t kDatabaseRootPage = 1;
inline constexpr std::uint32_t kDatabaseRootObjectId = 1;
// The catalog's own object id (objidFDPMSO): the owner its root page names.
inline constexpr std::uint32_t kCatalogObjectId = 2;

// SPACE_HEADER, in tag 0 of a root page.
inline constexpr std::size_t kSpaceHeaderSize = 16;
inline constexpr std::size_t kSpaceHeaderFlagsOffset = 8;        // m_ulSPHFlags
inline constexpr std::size_t kSpaceHeaderOwnedTreeOffset = 12;   // m_pgnoOE (multiple extents)
inline constexpr std::uint32_t kSpaceMultipleExtent = 0x01;      // fSPHMultipleExtent
// The available-extent tree's root follows the owned-extent tree's (PgnoAE).
inline constexpr std::uint32_t kAvailableTreeAfterOwned = 1;

// Extent keys (SPEXTKEY) and data (SPEXTDATA).
inline constexpr std::size_t kExtentKeySize = 4;            // big-endian last page
inline constexpr std::size_t kPooledExtentKeySize = 5;      // flags byte, then the last page
inline constexpr std::uint8_t kExtentKeyPooled = 0x80;      // fSPAvailExtReservedPool
inline constexpr std::uint8_t kExtentKeyPoolMask = 0x07;    // fSPPoolMask
// spp::ShelvedPool: available pages past the end of the file, which the engine keeps
// owned after shrinking the file but cannot use.
inline constexpr std::uint8_t kShelvedPool = 2;
inline constexpr std::size_t kExtentDataSize = 4;           // page count, little-endian

}  // namespace quarrow
