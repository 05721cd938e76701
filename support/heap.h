// The one heap behind every allocator: the classic vectors and matrices, the
// engine's growable buffers, image bands and Python's arrays all take their
// blocks here, so freed blocks serve any of them and the memory budget sees all
// of their mappings in one account.
#pragma once

#include <cstddef>

// Memory in whole huge pages (2 MiB), whose first touch costs one fault per
// huge page instead of one per 4 KiB.
inline constexpr std::size_t kHugePage = std::size_t(2) << 20;

// Blocks of kLargeBlock bytes or more are mappings of their own: whole 4 KiB
// pages below a huge page, whole huge pages advised for them from there. They
// are kept warm when freed (a few dozen, up to a total) and handed out again,
// and they grow by moving their pages, not their bytes. Smaller blocks come
// from malloc. The bound is low because malloc hands the pages of a freed
// block of a few hundred KiB back to the kernel, so a buffer that grows
// through such sizes on every call would pay their first touch every call.
// Under the address sanitizer every block comes from malloc, where overruns
// show.
inline constexpr std::size_t kLargeBlock = std::size_t(64) << 10;

// A block of bytes (a zero-size request still gets a distinct block), zero-
// filled when zeroed is set, aligned for any type. nullptr when it cannot be
// had, or when the memory budget (memory_budget_allows) refuses the memory it
// adds; a block taken from those kept costs the budget nothing. A large request
// takes the smallest kept block that holds it, never one whose mapping is more
// than twice its own would be: that one is left for a request of its size.
// Release with heap_free. Thread-safe.
void* heap_alloc(std::size_t bytes, bool zeroed);

// block (from heap_alloc or heap_resize; nullptr for none) made to hold bytes,
// keeping its contents up to the smaller of its old and new sizes and leaving
// any new bytes unset. The result may lie elsewhere; nullptr when the block
// cannot be had or the budget refuses what it adds (the growth of a block that
// grows where it is, the whole of a new one), the old block then untouched.
// Shrinking keeps a large block's mapping. A block turning large takes the
// largest kept block that holds it: a buffer growing from small gets the room
// such a buffer had last time, so its further growth moves no pages.
// Thread-safe.
void* heap_resize(void* block, std::size_t bytes);

// Gives a block from heap_alloc or heap_resize back (nullptr: nothing), to be
// kept warm when it is large. Thread-safe.
void heap_free(void* block);

// Unmaps every kept block, for a caller about to need memory elsewhere, and for
// tests that start from an empty cache. Live blocks are untouched.
void heap_trim();

// Asks for huge pages over the whole ones inside [data, data + bytes), for
// memory of another allocator's (a caller's vector) not yet touched.
void advise_huge_pages(void* data, std::size_t bytes);
