#include "qvbase.h"
#include "qvjpeg.h"

namespace {
constexpr char kVersionDate[] = "08042009";
constexpr uint32_t kVersionTextBytes = sizeof(kVersionDate); // with its zero
} // namespace

extern "C" vltJpgResult vltJpgGetVersionInfo(uint32_t *major, uint32_t *minor, uint32_t *build,
                                             char *text, uint32_t textSize) {
    if (!major || !minor || !build)
        return VLTJPG_ERR_ARGUMENT;
    *major = 4;
    *minor = 0;
    *build = 0;
    if (!text)
        return VLTJPG_OK;
    if (textSize < kVersionTextBytes)
        return VLTJPG_ERR_ARGUMENT;
    MMemSet(text, 0, kVersionTextBytes);
    MSCsCpy(text, kVersionDate);
    return VLTJPG_OK;
}
