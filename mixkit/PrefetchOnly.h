// For functions that only ask the processor to fetch memory ahead. Such a function reads memory
// and writes nothing, so an optimising compiler may take it for one without effects and drop
// every call to it: the fetches are then never asked for, and the code that relies on them waits
// for memory instead. A call of keepPrefetchCall() in such a function gives it an effect the
// compiler must keep (an empty instruction sequence it may not remove), at no cost at run time.
#pragma once

inline void keepPrefetchCall() { asm volatile(""); }
