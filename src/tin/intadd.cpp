#include "tin/intadd.hpp"

#include <cassert>

namespace krel::tin {

void intadd(std::int32_t kk, std::int32_t i1, std::int32_t i2, std::int32_t i3, Store& store) {
    assert(store.lnew + 6 <= static_cast<std::int32_t>(store.list.size()));
    auto& list = store.list;
    auto& lptr = store.lptr;

    // kk goes between each vertex and the next one counterclockwise.
    insert(kk, lstptr(store.lend[i1], i2, store), store);
    insert(kk, lstptr(store.lend[i2], i3, store), store);
    insert(kk, lstptr(store.lend[i3], i1, store), store);

    const std::int32_t lnew = store.lnew;
    list[lnew] = i1;
    list[lnew + 1] = i2;
    list[lnew + 2] = i3;
    lptr[lnew] = lnew + 1;
    lptr[lnew + 1] = lnew + 2;
    lptr[lnew + 2] = lnew;
    store.lend[kk] = lnew + 2;
    store.lnew = lnew + 3;
    // kk's entries in the lists of i1, i2 and i3 were the three made above.
    store.twin[lnew] = lnew - 3;
    store.twin[lnew + 1] = lnew - 2;
    store.twin[lnew + 2] = lnew - 1;
}

void bdyadd(std::int32_t kk, std::int32_t i1, std::int32_t i2, Store& store) {
    assert(i1 != i2);
    auto& list = store.list;
    auto& lptr = store.lptr;
    auto& lend = store.lend;

    // kk becomes i1's new last neighbour (negated): i1 stays on the hull with
    // kk as its clockwise predecessor.
    const std::int32_t lp = lend[i1];
    list[store.lnew] = -kk;
    lptr[store.lnew] = lptr[lp];
    lptr[lp] = store.lnew;
    lend[i1] = store.lnew;
    ++store.lnew;
    list[lp] = -list[lp];
    const std::int32_t first_m = list[lp];

    // Clockwise along the old hull to i2: kk goes after each node's last
    // neighbour. The nodes before i2 become interior, so their negated last
    // entry (the next node clockwise) turns positive; i2 keeps its sign.
    std::int32_t m = first_m;
    while (m != i2) {
        assert(list[lend[m]] < 0);
        insert(kk, lend[m], store);
        list[lend[m]] = -list[lend[m]];
        m = list[lend[m]];
    }
    insert(kk, lend[i2], store);

    // kk's list: i1, the nodes met on the way in that order, then -i2. A node
    // made interior still has its last entry at lend, holding the next one.
    assert(store.lnew + 2 <= static_cast<std::int32_t>(store.list.size()));
    const std::int32_t lfirst = store.lnew;
    list[store.lnew] = i1;
    for (m = first_m; m != i2; m = list[lend[m]]) {
        lptr[store.lnew] = store.lnew + 1;
        ++store.lnew;
        list[store.lnew] = m;
    }
    lptr[store.lnew] = store.lnew + 1;
    ++store.lnew;
    list[store.lnew] = -i2;
    lptr[store.lnew] = lfirst;
    lend[kk] = store.lnew;
    ++store.lnew;
}

}  // namespace krel::tin
