// Fuzzes the keyed map with a script of operations run at the same time on a model made of the
// standard library's containers: adding (reusing a present key or not), finding, deleting the
// found element, walking with deletions along the way, clearing and copying, with string keys (with
// or without case) or integer keys and few buckets, so that chains grow long. After every step the
// element count, and after a walk every element seen, must match the model.
//
// Input: one byte of options (bits 0-3 the bucket count - 1; bit 4 keys without case; bit 5
// integer keys), then steps of three bytes: the operation, the key, and a byte that picks what a
// walk deletes and how a copy is made.
#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "harness.h"
#include "runtime/containers/containers.h"

namespace {

using fuzz::WideString;

// Keys from a small alphabet in both cases, so that keys collide and differ only in case.
WideString KeyText(uint8_t key) {
    static const char letters[] = "aAbB";
    WideString text;
    for (int i = 0; i < 1 + key % 3; ++i) {
        text += static_cast<WCHAR>(letters[(key >> (2 + 2 * i)) & 3]);
    }
    return text;
}

class MapScript {
  public:
    explicit MapScript(uint8_t options)
        : noCase_((options & 16) != 0), integerKeys_((options & 32) != 0) {
        rt::MapCreate(sizeof(int64_t), 0, nullptr, &map_, (options & 15) + 1);
        fuzz::Check(map_ != nullptr, "the map could not be created");
        map_->flags |= (noCase_ ? rt::MAP_NOCASE : 0) | (integerKeys_ ? rt::MAP_INTEGER_KEYS : 0);
    }
    ~MapScript() {
        rt::MapFree(map_);
        rt::MapFree(copy_);
    }

    void Step(uint8_t operation, uint8_t key, uint8_t value) {
        switch (operation % 6) {
            case 0:
            case 1:
                Add(key, operation % 2 == 0 ? 1 : 0);
                break;
            case 2:
                Find(key, false);
                break;
            case 3:
                Find(key, true);
                break;
            case 4:
                Walk(value);
                break;
            case 5:
                if (value % 4 == 0) {
                    rt::MapClear(map_);
                    model_.clear();
                } else {
                    CheckCopy(value % 4 == 1);
                }
                break;
        }
        fuzz::Check(map_->count == Count(), "the element count differs");
    }

  private:
    using Model = std::map<WideString, std::vector<int64_t>>;  // values oldest first

    WideString ModelKey(uint8_t key) const {
        if (integerKeys_) {
            return WideString(1, static_cast<WCHAR>(key + 1));
        }
        WideString text = KeyText(key);
        if (noCase_) {
            for (WCHAR& unit : text) {
                unit = unit >= 'A' && unit <= 'Z' ? unit + 32 : unit;
            }
        }
        return text;
    }
    int32_t Count() const {
        size_t count = 0;
        for (const auto& entry : model_) {
            count += entry.second.size();
        }
        return static_cast<int32_t>(count);
    }

    void* RuntimeAdd(uint8_t key, int32_t mode) {
        return integerKeys_ ? rt::MapAddInteger(map_, key, mode)
                            : rt::MapAdd(map_, KeyText(key).c_str(), mode);
    }
    void* RuntimeFind(uint8_t key) {
        return integerKeys_ ? rt::MapFindInteger(map_, key)
                            : rt::MapFind(map_, KeyText(key).c_str());
    }

    // Every value stored is a new serial number, so that a value names its element.
    void Add(uint8_t key, int32_t mode) {
        int64_t value = ++serial_;
        auto* stored = static_cast<int64_t*>(RuntimeAdd(key, mode));
        fuzz::Check(stored != nullptr, "an add failed with memory to spare");
        fuzz::Check(*stored == 0, "a new value is not zero-filled");
        *stored = value;
        std::vector<int64_t>& values = model_[ModelKey(key)];
        if (mode == 1 && !values.empty()) {
            values.back() = value;
        } else {
            values.push_back(value);
        }
    }

    void Find(uint8_t key, bool deleteIt) {
        auto* found = static_cast<int64_t*>(RuntimeFind(key));
        auto entry = model_.find(ModelKey(key));
        bool present = entry != model_.end() && !entry->second.empty();
        fuzz::Check((found != nullptr) == present, "a find disagrees on the key's presence");
        if (!present) {
            return;
        }
        fuzz::Check(*found == entry->second.back(), "a find gave another value than the newest");
        if (deleteIt) {
            rt::MapDeleteCurrent(map_);
            entry->second.pop_back();
        }
    }

    // Walks the whole map, deleting the elements whose value has the bit of `deleteMask` picked
    // by its position; what the walk saw must be the model's elements, each once.
    void Walk(uint8_t deleteMask) {
        std::vector<int64_t> seen;
        std::vector<int64_t> deleted;
        rt::MapResetIteration(map_);
        int position = 0;
        for (void* value = rt::MapNext(map_); value != nullptr;) {
            int64_t v = *static_cast<int64_t*>(value);
            seen.push_back(v);
            if (deleteMask & (1 << (position++ % 8))) {
                deleted.push_back(v);
                rt::MapDeleteCurrent(map_);
            }
            value = rt::MapNext(map_);
            fuzz::Check(seen.size() <= static_cast<size_t>(Count()), "the walk sees too much");
        }
        std::vector<int64_t> all;
        for (const auto& entry : model_) {
            all.insert(all.end(), entry.second.begin(), entry.second.end());
        }
        std::sort(seen.begin(), seen.end());
        std::sort(all.begin(), all.end());
        fuzz::Check(seen == all, "the walk did not see every element once");
        for (int64_t v : deleted) {
            for (auto& entry : model_) {
                auto at = std::find(entry.second.begin(), entry.second.end(), v);
                if (at != entry.second.end()) {
                    entry.second.erase(at);
                    break;
                }
            }
        }
    }

    void CheckCopy(bool clearFirst) {
        if (copy_ == nullptr) {
            rt::MapCreate(sizeof(int64_t), 0, nullptr, &copy_, 3);
            fuzz::Check(copy_ != nullptr, "the copy could not be created");
            copy_->flags = map_->flags;
        }
        if (clearFirst) {
            rt::MapClear(copy_);
        }
        int32_t before = clearFirst ? 0 : copy_->count;
        fuzz::Check(rt::MapCopy(map_, copy_, clearFirst ? 1 : 0) == 1, "a copy failed");
        fuzz::Check(copy_->count == before + map_->count, "a copy has another count");
        fuzz::Check(rt::MapCopy(map_, map_, 0) == 1 && map_->count == Count(),
                    "a map copied into itself changed");
    }

    bool noCase_;
    bool integerKeys_;
    rt::KeyedMap* map_ = nullptr;
    rt::KeyedMap* copy_ = nullptr;
    Model model_;
    int64_t serial_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RuntimeStart();
    fuzz::Input input(data, size);
    MapScript script(input.Byte());
    while (!input.Empty()) {
        uint8_t operation = input.Byte();
        uint8_t key = input.Byte();
        script.Step(operation, key, input.Byte());
    }
    return 0;
}
