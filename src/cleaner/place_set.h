#pragma once
// A set of file places (volume and file id) for the files a Test run has
// counted. A run over a temporary folder can count millions of files, so
// the set is one flat table of 16-byte slots with open addressing: about
// 30 bytes a file, where a node-based set takes four times that.
#include <cstdint>
#include <vector>

#include "core/machine/file_api.h"

namespace brisko {

class PlaceSet {
  public:
    // True when the place was not in the set (it is now).
    bool insert(const PlaceId& p);
    bool contains(const PlaceId& p) const;
    size_t size() const { return size_; }

  private:
    // The empty slot is {0, 0}; the one place with that value is kept aside.
    static bool empty(const PlaceId& p) { return p.volume == 0 && p.file == 0; }
    size_t slotOf(const PlaceId& p) const;
    void grow();

    std::vector<PlaceId> slots_;
    size_t size_ = 0;
    bool hasZero_ = false;
};

}  // namespace brisko
