// The registry store in memory: a tree of keys, each with its values in the
// order they were first written and its subkeys ordered by folded name.
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/registry_store_util.h"
#include "ravelon/registry_store.h"

namespace ravelon {
namespace {

class MemoryRegistryStore final : public RegistryStore {
 public:
  int32_t OpenKey(RegistryKey root, const std::string& sub_key, RegistryKey& key) override {
    return Open(root, sub_key, /*create=*/false, key);
  }

  int32_t CreateKey(RegistryKey root, const std::string& sub_key, RegistryKey& key) override {
    return Open(root, sub_key, /*create=*/true, key);
  }

  int32_t QueryValue(RegistryKey key, const std::string& name, uint32_t& type, char* data,
                     uint32_t& size) override {
    Node* node = Find(key);
    if (node == nullptr) return kRegInvalidHandle;
    if (node->removed) return kRegFileNotFound;
    const Value* value = node->FindValue(FoldName(name));
    if (value == nullptr) return kRegFileNotFound;
    type = value->type;
    return CopyValueData(value->data, data, size);
  }

  int32_t SetValue(RegistryKey key, const std::string& name, uint32_t type,
                   const std::string& data) override {
    Node* node = Find(key);
    if (node == nullptr) return kRegInvalidHandle;
    if (node->removed) return kRegFileNotFound;
    std::string folded = FoldName(name);
    Value* value = node->FindValue(folded);
    if (value == nullptr) {
      value = &node->values.emplace_back();
      value->name = name;
      value->folded = std::move(folded);
    }
    value->type = type;
    value->data = data;
    return kRegSuccess;
  }

  int32_t SetValues(RegistryKey key, const std::vector<RegistryValue>& values) override {
    Node* node = Find(key);
    if (node == nullptr) return kRegInvalidHandle;
    if (node->removed) return kRegFileNotFound;
    for (const RegistryValue& value : values) SetValue(key, value.name, value.type, value.data);
    return kRegSuccess;
  }

  int32_t ReadValues(RegistryKey key, std::vector<RegistryValue>& values) override {
    Node* node = Find(key);
    if (node == nullptr) return kRegInvalidHandle;
    if (node->removed) return kRegFileNotFound;
    values.clear();
    for (const Value& value : node->values) values.push_back({value.name, value.type, value.data});
    return kRegSuccess;
  }

  int32_t FlushKey(RegistryKey key) override {
    return Find(key) == nullptr ? kRegInvalidHandle : kRegSuccess;
  }

  int32_t EnumValue(RegistryKey key, uint32_t index, std::string& name, uint32_t& type, char* data,
                    uint32_t& size) override {
    Node* node = Find(key);
    if (node == nullptr) return kRegInvalidHandle;
    if (node->removed || index >= node->values.size()) return kRegNoMoreItems;
    const Value& value = node->values[index];
    name = value.name;
    type = value.type;
    return CopyValueData(value.data, data, size);
  }

  int32_t EnumKey(RegistryKey key, uint32_t index, std::string& name) override {
    Node* node = Find(key);
    if (node == nullptr) return kRegInvalidHandle;
    if (node->removed || index >= node->children.size()) return kRegNoMoreItems;
    name = std::next(node->children.begin(), index)->second->name;
    return kRegSuccess;
  }

  int32_t CloseKey(RegistryKey key) override {
    if (key == kHkeyLocalMachine || key == kHkeyCurrentUser) return kRegSuccess;
    return handles_.erase(key) == 1 ? kRegSuccess : kRegInvalidHandle;
  }

  int32_t DeleteValue(RegistryKey key, const std::string& name) override {
    Node* node = Find(key);
    if (node == nullptr) return kRegInvalidHandle;
    const std::string folded = FoldName(name);
    for (auto it = node->values.begin(); it != node->values.end(); ++it) {
      if (it->folded != folded) continue;
      node->values.erase(it);
      return kRegSuccess;
    }
    return kRegFileNotFound;
  }

  int32_t DeleteKey(RegistryKey root, const std::string& sub_key) override {
    Node* parent = Find(root);
    if (parent == nullptr) return kRegInvalidHandle;
    std::vector<std::string> names;
    if (!SplitKeyPath(sub_key, names) || names.empty()) return kRegInvalidParameter;
    const std::string last = FoldName(names.back());
    names.pop_back();
    for (const std::string& name : names) {
      const auto it = parent->children.find(FoldName(name));
      if (it == parent->children.end()) return kRegFileNotFound;
      parent = it->second.get();
    }
    const auto it = parent->children.find(last);
    if (parent->removed || it == parent->children.end()) return kRegFileNotFound;
    MarkRemoved(*it->second);
    removed_.push_back(std::move(it->second));
    parent->children.erase(it);
    return kRegSuccess;
  }

 private:
  struct Value {
    std::string name;
    std::string folded;
    uint32_t type = kRegNone;
    std::string data;
  };

  struct Node {
    Value* FindValue(const std::string& folded) {
      for (Value& value : values) {
        if (value.folded == folded) return &value;
      }
      return nullptr;
    }

    std::string name;
    std::map<std::string, std::unique_ptr<Node>> children;  // by folded name
    std::vector<Value> values;
    bool removed = false;  // deleted while a handle may still point here
  };

  static void MarkRemoved(Node& node) {
    node.removed = true;
    node.values.clear();
    for (auto& [name, child] : node.children) MarkRemoved(*child);
  }

  // The node behind a root or an open handle; nullptr when not open. Removed
  // keys are kept in removed_, so the pointers stay valid.
  Node* Find(RegistryKey key) {
    if (key == kHkeyLocalMachine) return &local_machine_;
    if (key == kHkeyCurrentUser) return &current_user_;
    const auto it = handles_.find(key);
    return it == handles_.end() ? nullptr : it->second;
  }

  int32_t Open(RegistryKey root, const std::string& sub_key, bool create, RegistryKey& key) {
    Node* node = Find(root);
    if (node == nullptr) return kRegInvalidHandle;
    std::vector<std::string> names;
    if (!SplitKeyPath(sub_key, names)) return kRegInvalidParameter;
    if (node->removed) return kRegFileNotFound;
    for (const std::string& name : names) {
      std::string folded = FoldName(name);
      auto it = node->children.find(folded);
      if (it == node->children.end()) {
        if (!create) return kRegFileNotFound;
        auto child = std::make_unique<Node>();
        child->name = name;
        it = node->children.emplace(std::move(folded), std::move(child)).first;
      }
      node = it->second.get();
    }
    key = next_handle_++;
    handles_[key] = node;
    return kRegSuccess;
  }

  Node local_machine_;
  Node current_user_;
  std::vector<std::unique_ptr<Node>> removed_;
  std::unordered_map<RegistryKey, Node*> handles_;
  RegistryKey next_handle_ = 1;
};

}  // namespace

std::unique_ptr<RegistryStore> NewMemoryRegistryStore() {
  return std::make_unique<MemoryRegistryStore>();
}

}  // namespace ravelon
