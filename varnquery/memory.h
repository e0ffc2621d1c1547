// Memory for the batch's arrays that grow with its keys.
#ifndef VARNQUERY_MEMORY_H_
#define VARNQUERY_MEMORY_H_

#include <cstddef>

// How the memory will be used: every byte written soon (the keys before the table is read, the
// block of a long table), or bytes written as they come (the answers).
enum class Touch { kAll, kAsUsed };

// bytes of zeroed memory aligned to 16, or null. Fresh pages cost a fault each on their first
// touch, and with 100,000 keys the faults took longer than reading a 58 MB table: memory that
// will all be touched is made ready in one call, and from 512 KiB on (2 MiB for memory touched as
// used) it is asked for in huge pages, of which one fault makes 2 MiB.
void* takeMemory(size_t bytes, Touch touch);

// Gives back what takeMemory(bytes, touch) gave; null is ignored.
void giveMemory(void* memory, size_t bytes, Touch touch);

#endif  // VARNQUERY_MEMORY_H_
