// What the simulator keeps about installations: the key each one identifies
// with, the id the central side gave it, and the central change orders waiting
// for it.
#pragma once

#include <string>
#include <vector>

#include "common/text.h"

namespace pv::central {

// One row of the central update queue as an "UPDA" order: central queue row
// id, record id, change kind and item id, joined by the field separator.
struct UpdateOrder {
  std::string id;
  std::string recordId;
  std::string kind;
  std::string itemId;

  // "id§recordId§kind§itemId" (UTF-8).
  std::string Text() const {
    std::string text = id;
    for (const std::string* field : {&recordId, &kind, &itemId}) {
      text += common::kFieldSeparator;
      text += *field;
    }
    return text;
  }
};

class InstallationStore {
 public:
  virtual ~InstallationStore() = default;
  // The id of the installation recorded under `key`; a key seen for the first
  // time gets a new row. Throws std::exception when the store fails.
  virtual std::string Identify(const std::string& key) = 0;
  // The waiting change orders in id order: those of `installationId`, or all
  // of them when it is empty. Throws std::exception when the store fails.
  virtual std::vector<UpdateOrder> UpdateOrders(const std::string& installationId) = 0;
};

}  // namespace pv::central
