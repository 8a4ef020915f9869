#pragma once
// Memory for one parsed store document. The parser asks for many small pages;
// faulting them in one by one costs more than the parse itself on some
// machines. An arena is one mapping filled in a single call, from which the
// parser's pages are cut while the arena is active on this thread; all of it
// goes back to the system at once when the arena goes.
#include <cstddef>

class ParseArena {
public:
    explicit ParseArena(size_t expectedBytes);
    ~ParseArena();
    ParseArena(const ParseArena &) = delete;
    ParseArena &operator=(const ParseArena &) = delete;

    // The parser allocates from this arena on this thread until deactivate().
    void activate();
    void deactivate();

private:
    char *m_begin = nullptr;
    char *m_end = nullptr;
    char *m_next = nullptr;
    friend void *parseArenaAllocate(size_t size);
};
