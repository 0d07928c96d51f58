#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelorin::platform {

// The phone's address book: people, each with multi-valued properties whose
// entries carry a label ("mobile", "work") and a text value. The book lives
// in an SQLite database under the root folder. Readers see the book as it
// stands when they call; nothing is cached.

// Which multi-valued property an entry belongs to (the phone's numbering).
enum class PersonProperty : std::int32_t { kPhone = 3, kEmail = 4 };

struct LabeledValue {
  std::string label;
  std::string value;
  friend bool operator==(const LabeledValue&, const LabeledValue&) = default;
};

struct Person {
  std::int64_t id = 0;
  std::string name;
  std::vector<LabeledValue> phones;  // in the order they were added
  std::vector<LabeledValue> emails;

  // The entries of one property; the position in the list is the entry's
  // identifier.
  const std::vector<LabeledValue>& values(PersonProperty property) const {
    return property == PersonProperty::kPhone ? phones : emails;
  }
};

class AddressBook {
 public:
  AddressBook() = default;
  AddressBook(const AddressBook&) = delete;
  AddressBook& operator=(const AddressBook&) = delete;
  virtual ~AddressBook() = default;

  // Every person, sorted by name (byte order, then by id). A book that is
  // missing or unreadable holds nobody: the result is empty, never an error.
  virtual std::vector<Person> people() = 0;

  // Adds a person with its entries in one transaction, creating the database
  // (and its folders) when missing. The new person's id, or nothing when the
  // database could not be written (then nothing was added).
  virtual std::optional<std::int64_t> addPerson(const std::string& name,
                                                const std::vector<LabeledValue>& phones,
                                                const std::vector<LabeledValue>& emails) = 0;
};

// The address-book database under the root folder.
std::string addressBookPath();

// The book stored in the SQLite database at `path` (default: addressBookPath()).
// Opening is lazy: each call opens the database, so a missing file is not an
// error until something is added.
std::unique_ptr<AddressBook> newSqliteAddressBook(std::string path = addressBookPath());

}  // namespace pelorin::platform
