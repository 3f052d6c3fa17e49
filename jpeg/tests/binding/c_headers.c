/* Both public headers must compile as plain C, as C hosts include them. */
#include "qvbase.h"
#include "qvjpeg.h"

VLTJPG_STATIC_ASSERT(sizeof(vltJpgIndexHeader) == 16, "index header size in C");
