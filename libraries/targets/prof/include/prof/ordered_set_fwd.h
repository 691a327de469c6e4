/* Opaque names of the ordered set behind the thread table. Compiles as C
 * and as C++. */
#ifndef PROF_ORDERED_SET_FWD_H
#define PROF_ORDERED_SET_FWD_H

typedef struct OrderedSet_tree OrderedSet_tree_t;
typedef struct OrderedSet_node OrderedSet_node_t;

#endif
