// The item families of the cleaner: each family's unit exports one add
// function, and this list is where the table learns about it.
#include "cleaner/clean_context.h"

namespace brisko {

void addItemFamilies(ItemTable& table) {
    (void)table;
}

}  // namespace brisko
