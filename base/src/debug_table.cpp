// ID tables: each string registered once gets an ID (the address at which
// the table keeps it) and one ID record in the debug stream. Kinds 1 and 2
// keep the caller's pointer, kind 3 a copy in the node's own storage. Unit
// nodes are the reading side's map from numeric IDs back to strings.
#include "context_lock.h"
#include "qvbase.h"

#include <cstdlib>
#include <cstring>

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(MIdNode) == 1040, "ID node fixed part is four words and 256 entries");
#endif

namespace {

constexpr uint32_t kFixedSize = sizeof(MIdNode);
constexpr uint32_t kAllIdRecords = 0xFFFFFFFFu;

char *storageOf(MIdNode *node) { return reinterpret_cast<char *>(node) + kFixedSize; }
uint32_t storageSize(const MIdNode *node) {
    return node->totalSize > kFixedSize ? node->totalSize - kFixedSize : 0;
}
uint32_t freeStorage(const MIdNode *node) {
    uint32_t size = storageSize(node);
    return node->storageUsed < size ? size - node->storageUsed : 0;
}
bool isFull(const MIdNode *node) { return node->count >= MDEBUG_NODE_ENTRIES; }
uint32_t lowWord(const void *pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

MIdNode *newIdNode(uint32_t storage) {
    if (storage > UINT32_MAX - kFixedSize)
        return nullptr;
    auto *node = static_cast<MIdNode *>(std::calloc(1, kFixedSize + storage));
    if (node)
        node->totalSize = kFixedSize + storage;
    return node;
}

MUnitNode *newUnitNode(uint32_t region) {
    if (region < kFixedSize || region > UINT32_MAX - sizeof(MUnitNode))
        return nullptr;
    auto *node = static_cast<MUnitNode *>(std::calloc(1, sizeof(MUnitNode) + region));
    if (!node)
        return nullptr;
    node->inner = reinterpret_cast<MIdNode *>(node + 1);
    node->inner->totalSize = region;
    return node;
}

void **nextLink(uint32_t form, void *node) {
    if (form == MDEBUG_FORM_ID_NODE)
        return reinterpret_cast<void **>(&static_cast<MIdNode *>(node)->next);
    return reinterpret_cast<void **>(&static_cast<MUnitNode *>(node)->next);
}

bool entryMatches(uint32_t kind, const char *entry, const void *value) {
    return kind == MDEBUG_TABLE_BY_CONTENTS ? MSCsCmp(entry, static_cast<const char *>(value)) == 0
                                            : entry == value;
}

// Walks a chain of ID nodes (kinds 1 and 3) or unit nodes (kind 2); the
// node output ends on the last node searched.
uint32_t findEntry(uint32_t kind, void *table, const void *value, void **node, uint32_t *index) {
    const bool units = kind == MDEBUG_TABLE_BY_ADDRESS_2;
    const uint32_t form = units ? MDEBUG_FORM_UNIT_NODE : MDEBUG_FORM_ID_NODE;
    for (void *current = table; current; current = *nextLink(form, current)) {
        if (node)
            *node = current;
        const MIdNode *ids = units ? static_cast<MUnitNode *>(current)->inner : static_cast<MIdNode *>(current);
        if (!ids)
            continue;
        for (uint32_t i = 0; i < ids->count && i < MDEBUG_NODE_ENTRIES; ++i) {
            const bool hit = units ? static_cast<MUnitNode *>(current)->ids[i] == lowWord(value)
                                   : entryMatches(kind, ids->entries[i], value);
            if (hit) {
                if (index)
                    *index = i;
                return 1;
            }
        }
    }
    return 0;
}

// The node a new string of `needed` bytes (NUL included) goes into: the
// last one while it has an entry and, for copies, storage to spare; else a
// new node appended to the chain. A string longer than a node's usual
// storage gets a node sized for it.
MIdNode *nodeWithRoom(MIdNode *last, uint32_t kind, uint32_t needed) {
    const bool copies = kind == MDEBUG_TABLE_BY_CONTENTS;
    if (!isFull(last) && (!copies || needed < freeStorage(last)))
        return last;
    MIdNode *node = newIdNode(!copies ? 0 : needed > MDEBUG_NODE_STORAGE ? needed : MDEBUG_NODE_STORAGE);
    if (node)
        last->next = node;
    return node;
}

// Stores the pair at the next entry of a unit node that has room for it.
void storeUnit(MUnitNode *unit, uint32_t id, const char *string, uint32_t length) {
    MIdNode *inner = unit->inner;
    char *copy = storageOf(inner) + inner->storageUsed;
    std::memcpy(copy, string, length - 1);
    copy[length - 1] = '\0';
    unit->ids[inner->count] = id;
    inner->entries[inner->count] = copy;
    inner->count += 1;
    inner->storageUsed += length;
}

} // namespace

extern "C" {

void MSTATIC_MGetTable(uint32_t kind, MIdNode **table) {
    if (!table)
        return;
    *table = nullptr;
    __tag_context *context = MSTATIC_MGetContext();
    if (!context)
        return;
    MIdNode *tables[] = {context->idTable1, context->idTable2, context->idTable3};
    if (kind >= 1 && kind <= 3)
        *table = tables[kind - 1];
}

uintptr_t MSTATIC_MTableAddOneID(uint32_t kind, const char *string) {
    MIdNode *table = nullptr;
    if (string)
        MSTATIC_MGetTable(kind, &table);
    return table ? MSTATIC_MTableWrite(table, kind, string) : 0;
}

// The ID record is written before the mutex is let go, so that no other
// thread can put an ID into the stream ahead of the record that defines it.
uintptr_t MSTATIC_MTableWrite(MIdNode *table, uint32_t kind, const char *string) {
    __tag_context *context = MSTATIC_MGetContext();
    if (!context || !table || !string || kind < 1 || kind > 3)
        return 0;
    ContextLock lock(context->debugMutex);
    void *last = nullptr;
    uint32_t index = 0;
    const uint32_t lookup = kind == MDEBUG_TABLE_BY_CONTENTS ? kind : MDEBUG_TABLE_BY_ADDRESS;
    if (MSTATIC_MTableIDExists(lookup, table, string, &last, &index))
        return reinterpret_cast<uintptr_t>(static_cast<MIdNode *>(last)->entries[index]);
    MIdNode *node = nodeWithRoom(static_cast<MIdNode *>(last), kind, MSCsLen(string) + 1);
    const char *stored = node ? MSTATIC_MTableFillNode(node, string) : nullptr;
    if (stored)
        MSTATIC_MTableOutPutID(kAllIdRecords, kind + MDEBUG_RECORD_ID_BASE, stored);
    return reinterpret_cast<uintptr_t>(stored);
}

uint32_t MSTATIC_MTableIDExists(uint32_t kind, void *table, const void *value, void **node,
                                uint32_t *index) {
    if (index)
        *index = 0;
    if (kind < 1 || kind > 3 || !value)
        return 0;
    return findEntry(kind, table, value, node, index);
}

const char *MSTATIC_MTableFillNode(MIdNode *node, const char *string) {
    if (!node || !string || isFull(node))
        return nullptr;
    const uint32_t needed = MSCsLen(string) + 1;
    const char *entry = string;
    if (storageSize(node) > 0) {
        if (needed > freeStorage(node))
            return nullptr;
        char *copy = storageOf(node) + node->storageUsed;
        std::memcpy(copy, string, needed);
        entry = copy;
    }
    node->entries[node->count] = entry;
    node->count += 1;
    node->storageUsed += needed;
    return entry;
}

void *MSTATIC_MTableNewOneNode(uint32_t form, uint32_t size) {
    if (form == MDEBUG_FORM_ID_NODE)
        return newIdNode(size);
    return form == MDEBUG_FORM_UNIT_NODE ? newUnitNode(size) : nullptr;
}

void MSTATIC_MTableAddOneNode(uint32_t form, void *chain, void *node) {
    if (!chain || !node || (form != MDEBUG_FORM_ID_NODE && form != MDEBUG_FORM_UNIT_NODE))
        return;
    void **link = nextLink(form, chain);
    while (*link)
        link = nextLink(form, *link);
    *link = node;
}

void MSTATIC_MTableReMoveAll(uint32_t form, void *chain) {
    if (form != MDEBUG_FORM_ID_NODE && form != MDEBUG_FORM_UNIT_NODE)
        return;
    while (chain) {
        void *next = *nextLink(form, chain);
        std::free(chain);
        chain = next;
    }
}

void MSTATIC_MTableAssembleOneUnit(MUnitNode *chain, uint32_t id, const char *string, uint32_t length) {
    if (!chain || !string || length == 0)
        return;
    MUnitNode *last = chain;
    while (last->next)
        last = last->next;
    if (!last->inner || isFull(last->inner) || freeStorage(last->inner) < length) {
        const uint32_t region = length > UINT32_MAX - kFixedSize ? 0 : kFixedSize + length;
        last->next = newUnitNode(region > MDEBUG_NODE_STORAGE ? region : MDEBUG_NODE_STORAGE);
        if (!last->next)
            return;
        last = last->next;
    }
    storeUnit(last, id, string, length);
}

void MSTATIC_MTableAssembleOneNode(MUnitNode *node) {
    if (!node || !node->inner)
        return;
    MIdNode *inner = node->inner;
    char *storage = storageOf(inner);
    const uint32_t size = storageSize(inner);
    uint32_t offset = 0;
    uint32_t i = 0;
    for (; i < inner->count && i < MDEBUG_NODE_ENTRIES; ++i) {
        const void *end = offset < size ? std::memchr(storage + offset, '\0', size - offset) : nullptr;
        if (!end)
            break;
        node->ids[i] = lowWord(inner->entries[i]);
        inner->entries[i] = storage + offset;
        offset = static_cast<uint32_t>(static_cast<const char *>(end) - storage) + 1;
    }
    inner->count = i;
    inner->next = nullptr;
}

} // extern "C"
