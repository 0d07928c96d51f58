// The address book in SQLite, laid out like the phone's: a table of people
// and one table of multi-value entries (property, identifier, label, value).
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/address_book.h"
#include "platform/root_path.h"

namespace pelorin::platform {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS ABPerson ("
    "  ROWID INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  Name TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS ABMultiValue ("
    "  UID INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  record_id INTEGER NOT NULL REFERENCES ABPerson(ROWID),"
    "  property INTEGER NOT NULL,"
    "  identifier INTEGER NOT NULL,"
    "  label TEXT,"
    "  value TEXT);";

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

std::string columnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? reinterpret_cast<const char*>(text) : "";
}

Statement prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  // A book without the tables (an empty file) fails here: it reads as empty.
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) return nullptr;
  return Statement(statement);
}

bool execute(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK) return true;
  std::fprintf(stderr, "address book: %s\n", error ? error : "error");
  sqlite3_free(error);
  return false;
}

class SqliteAddressBook final : public AddressBook {
 public:
  explicit SqliteAddressBook(std::string path) : path_(std::move(path)) {}

  std::vector<Person> people() override {
    std::vector<Person> result;
    Database db = open(SQLITE_OPEN_READONLY);
    if (!db) return result;
    Statement persons = prepare(db.get(), "SELECT ROWID, Name FROM ABPerson ORDER BY Name, ROWID");
    Statement entries = prepare(db.get(),
                                "SELECT property, label, value FROM ABMultiValue "
                                "WHERE record_id = ? ORDER BY property, identifier, UID");
    if (!persons || !entries) return result;
    while (sqlite3_step(persons.get()) == SQLITE_ROW) {
      Person person;
      person.id = sqlite3_column_int64(persons.get(), 0);
      person.name = columnText(persons.get(), 1);
      sqlite3_reset(entries.get());
      sqlite3_bind_int64(entries.get(), 1, person.id);
      while (sqlite3_step(entries.get()) == SQLITE_ROW) {
        const int property = sqlite3_column_int(entries.get(), 0);
        LabeledValue value{columnText(entries.get(), 1), columnText(entries.get(), 2)};
        if (property == static_cast<int>(PersonProperty::kPhone)) {
          person.phones.push_back(std::move(value));
        } else if (property == static_cast<int>(PersonProperty::kEmail)) {
          person.emails.push_back(std::move(value));
        }
      }
      result.push_back(std::move(person));
    }
    return result;
  }

  std::optional<std::int64_t> addPerson(const std::string& name,
                                        const std::vector<LabeledValue>& phones,
                                        const std::vector<LabeledValue>& emails) override {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ignored);
    Database db = open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!db || !execute(db.get(), kSchema) || !execute(db.get(), "BEGIN IMMEDIATE")) {
      return std::nullopt;
    }
    auto id = insert(db.get(), name, phones, emails);
    if (!id || !execute(db.get(), "COMMIT")) {
      execute(db.get(), "ROLLBACK");
      return std::nullopt;
    }
    return id;
  }

 private:
  Database open(int flags) const {
    sqlite3* db = nullptr;
    const int r = sqlite3_open_v2(path_.c_str(), &db, flags, nullptr);
    Database owned(db);
    if (r != SQLITE_OK) return nullptr;
    sqlite3_busy_timeout(db, 2000);
    return owned;
  }

  static std::optional<std::int64_t> insert(sqlite3* db, const std::string& name,
                                            const std::vector<LabeledValue>& phones,
                                            const std::vector<LabeledValue>& emails) {
    Statement person = prepare(db, "INSERT INTO ABPerson (Name) VALUES (?)");
    if (!person) return std::nullopt;
    sqlite3_bind_text(person.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(person.get()) != SQLITE_DONE) return std::nullopt;
    const std::int64_t id = sqlite3_last_insert_rowid(db);

    Statement entry = prepare(db,
                              "INSERT INTO ABMultiValue (record_id, property, identifier, label, "
                              "value) VALUES (?, ?, ?, ?, ?)");
    if (!entry) return std::nullopt;
    for (const auto property : {PersonProperty::kPhone, PersonProperty::kEmail}) {
      const auto& values = property == PersonProperty::kPhone ? phones : emails;
      for (std::size_t i = 0; i < values.size(); ++i) {
        sqlite3_reset(entry.get());
        sqlite3_bind_int64(entry.get(), 1, id);
        sqlite3_bind_int(entry.get(), 2, static_cast<int>(property));
        sqlite3_bind_int64(entry.get(), 3, static_cast<std::int64_t>(i));
        sqlite3_bind_text(entry.get(), 4, values[i].label.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(entry.get(), 5, values[i].value.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(entry.get()) != SQLITE_DONE) return std::nullopt;
      }
    }
    return id;
  }

  const std::string path_;
};

}  // namespace

std::string addressBookPath() {
  return resolvePath("/var/mobile/Library/AddressBook/AddressBook.sqlitedb");
}

std::unique_ptr<AddressBook> newSqliteAddressBook(std::string path) {
  return std::make_unique<SqliteAddressBook>(std::move(path));
}

}  // namespace pelorin::platform
