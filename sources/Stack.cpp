#include "sources/Stack.h"

void stackFault(int32_t fault) { reportNoMemory(Stack<int32_t>::sourceTag, fault); }
