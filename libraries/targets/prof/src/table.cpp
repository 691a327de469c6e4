// Fixed 131-bucket chained hash table of element pointers: insertion,
// visiting, merging and release. Lookup is inline in table.h. Entries are
// allocated with ProfMalloc (utils.h) and released with free.
#include "table.h"

#include <cstdlib>

#include "utils.h"

namespace {

HashElem* HashElemCreate(U64 key, void* elem) {
  HashElem* e = ProfAlloc<HashElem>();
  e->key = key;
  e->data = elem;
  e->chain = nullptr;
  return e;
}

// Adds with a key the caller already has, so Keygen runs once per add.
// New entries go to the front: a chain runs from newest to oldest.
bool TableAddKeyed(Table* table, U64 key, void* elem) {
  if (table->elemCount != 0 && TableKeyRetrieve(table, key, elem) != nullptr) return false;
  HashElem* e = HashElemCreate(key, elem);
  HashElem** head = &table->buckets[Hash(key)];
  e->chain = *head;
  *head = e;
  ++table->elemCount;
  return true;
}

}  // namespace

void __PROF_TableInit(Table* table, TableKeygenFn keygen, TableCompareFn compare,
                      bool simpleCompare) {
  for (HashElem*& head : table->buckets) head = nullptr;
  table->Keygen = keygen;
  table->Compare = compare;
  table->simpleCompare = simpleCompare;
  table->elemCount = 0;
}

U64 __PROF_TableSize(const Table* table) { return table != nullptr ? table->elemCount : 0; }

bool __PROF_TableAdd(Table* table, void* elem) {
  if (table == nullptr || elem == nullptr) return false;
  return TableAddKeyed(table, table->Keygen(elem), elem);
}

bool __PROF_TableVisitor(const Table* table, TableVisitorFn visitor, void* info) {
  if (table == nullptr || visitor == nullptr) return false;
  for (HashElem* head : table->buckets) {
    for (HashElem* e = head; e != nullptr; e = e->chain) {
      if (visitor(e->data, info)) return true;
    }
  }
  return false;
}

void __PROF_TableMerge(Table* dst, const Table* src, TableMergeFn merge, void* info) {
  if (dst == nullptr || src == nullptr || merge == nullptr) return;
  for (HashElem* head : src->buckets) {
    for (HashElem* s = head; s != nullptr; s = s->chain) {
      // The source entry's stored key stands for its element: both tables
      // key alike, so no key function runs for the search.
      HashElem* d = TableKeyRetrieve(dst, s->key, s->data);
      if (d != nullptr) {
        merge(d->data, s->data, info);
        continue;
      }
      void* added = merge(nullptr, s->data, info);
      // A merge function may decline to produce an element.
      __PROF_TableAdd(dst, added);
    }
  }
}

void __PROF_TableDelete(Table* table, TableDeleterFn deleter) {
  if (table == nullptr) return;
  for (HashElem*& head : table->buckets) {
    HashElem* e = head;
    while (e != nullptr) {
      HashElem* next = e->chain;
      if (deleter != nullptr) {
        deleter(e->data);
        e->data = nullptr;
      }
      free(e);
      e = next;
    }
    head = nullptr;
  }
  // The record may be initialised again or sized after this; keep the
  // count in step with the now empty buckets.
  table->elemCount = 0;
}
