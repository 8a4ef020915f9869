#include "store/ParseArena.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <pugixml.hpp>
#include <sys/mman.h>
#include <utility>
#include <vector>

void *parseArenaAllocate(size_t size);

namespace {
thread_local ParseArena *tActive = nullptr;

// The address ranges of live arenas: what lies in one is not freed alone.
std::mutex gRangesMutex;
std::vector<std::pair<const char *, const char *>> gRanges;

bool inAnArena(const void *p)
{
    std::lock_guard lock(gRangesMutex);
    return std::any_of(gRanges.begin(), gRanges.end(), [p](const auto &r) { return p >= r.first && p < r.second; });
}

void parseArenaDeallocate(void *p)
{
    if (!inAnArena(p))
        std::free(p);
}

void installOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { pugi::set_memory_management_functions(parseArenaAllocate, parseArenaDeallocate); });
}
}

void *parseArenaAllocate(size_t size)
{
    if (ParseArena *a = tActive) {
        const size_t rounded = (size + 15) & ~size_t(15);
        if (size_t(a->m_end - a->m_next) >= rounded) {
            void *p = a->m_next;
            a->m_next += rounded;
            return p;
        }
    }
    return std::malloc(size);
}

ParseArena::ParseArena(size_t expectedBytes)
{
    installOnce();
    const size_t size = (expectedBytes + 65535) & ~size_t(65535);
    void *p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED)
        return; // the parser then takes its memory from the heap
    m_begin = m_next = static_cast<char *>(p);
    m_end = m_begin + size;
    std::lock_guard lock(gRangesMutex);
    gRanges.emplace_back(m_begin, m_end);
}

ParseArena::~ParseArena()
{
    if (tActive == this)
        tActive = nullptr;
    if (!m_begin)
        return;
    {
        std::lock_guard lock(gRangesMutex);
        gRanges.erase(std::find(gRanges.begin(), gRanges.end(), std::pair<const char *, const char *>(m_begin, m_end)));
    }
    ::munmap(m_begin, size_t(m_end - m_begin));
}

void ParseArena::activate()
{
    tActive = this;
}

void ParseArena::deactivate()
{
    if (tActive == this)
        tActive = nullptr;
}
