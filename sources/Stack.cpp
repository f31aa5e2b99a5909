#include "sources/Stack.h"

void stackFault(int32_t line) { reportNoMemory(Stack<int32_t>::sourceTag, line); }
