// Static memory pool. Until the pool allocator lands, pool handles get no
// memory: allocation and resizing through a pool return null.
#include "qvbase.h"

extern "C" {

void *MMemAllocStatic(MMemMgr, uint32_t) { return nullptr; }
void MMemFreeStatic(MMemMgr, void *) {}
void *MMemReallocStatic(MMemMgr, void *, uint32_t) { return nullptr; }

} // extern "C"
