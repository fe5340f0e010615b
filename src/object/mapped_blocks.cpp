// Blocks of their own mapping, for large objects, and growing an exclusive object in place.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "object/heap.h"

namespace quarn::object {

namespace detail {

namespace {

size_t page_rounded(size_t bytes) noexcept {
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) & ~(page - 1);
}

// Asks for huge pages where the kernel gives them on request: a large block then costs a
// page fault per 2 MiB rather than per 4 KiB. Refused where it cannot; nothing else changes.
void prefer_huge_pages(void *mapping, size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
    madvise(mapping, page_rounded(bytes), MADV_HUGEPAGE);
#else
    (void)mapping;
    (void)bytes;
#endif
}

}  // namespace

void *map_block(size_t bytes) noexcept {
    void *p = mmap(nullptr, page_rounded(bytes), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    prefer_huge_pages(p, bytes);
    return p;
}

void unmap_block(void *block, size_t bytes) noexcept { munmap(block, page_rounded(bytes)); }

void *remap_block(void *block, size_t old_bytes, size_t new_bytes) noexcept {
    void *p = mremap(block, page_rounded(old_bytes), page_rounded(new_bytes), MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return nullptr;
    prefer_huge_pages(p, new_bytes);
    return p;
}

}  // namespace detail

quarn_object *reallocate_object(quarn_object *o, size_t new_size, size_t keep) noexcept {
    size_t old_size = object_size(o);
    if (new_size > detail::kLargestBlock - sizeof(size_t)) [[unlikely]]
        internal_panic(kOutOfMemory);
    if (detail::is_mapped_block(old_size + sizeof(size_t)) &&
        detail::is_mapped_block(new_size + sizeof(size_t))) {
        void *block = detail::remap_block(reinterpret_cast<size_t *>(o) - 1,
                                          old_size + sizeof(size_t), new_size + sizeof(size_t));
        if (block == nullptr) [[unlikely]]
            internal_panic(kOutOfMemory);
        auto *size_word = static_cast<size_t *>(block);
        *size_word = new_size;
        return reinterpret_cast<quarn_object *>(size_word + 1);
    }
    quarn_object *grown = allocate(new_size);
    std::memcpy(grown, o, keep);
    deallocate(o);
    return grown;
}

}  // namespace quarn::object
