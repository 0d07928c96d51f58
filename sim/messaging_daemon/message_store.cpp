// The message store in SQLite. One table of messages keyed by serial (the
// rowid, so serials continue after every stored one), indexed by carrier id,
// by guid and, for the few still sending, by state; one table of chats. Lists
// of addresses are kept as CBOR arrays, which hold any bytes exactly.
#include "sim/messaging_daemon/message_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <variant>

#include "platform/clock.h"

namespace pelorin::sim {
namespace {

constexpr int kSchemaVersion = 1;

// Small columns first, the text last: scanning them never reads a long text.
constexpr const char* kSchema =
    "BEGIN;"
    "CREATE TABLE messages ("
    "  serial INTEGER PRIMARY KEY,"
    "  service TEXT NOT NULL,"
    "  direction TEXT NOT NULL,"
    "  state TEXT NOT NULL,"
    "  message_id INTEGER,"
    "  guid TEXT,"
    "  error_code INTEGER NOT NULL,"
    "  sender TEXT,"
    "  chat_identifier TEXT,"
    "  recipients BLOB NOT NULL,"
    "  attachments BLOB NOT NULL,"
    "  carrier_recipients BLOB,"
    "  time REAL NOT NULL,"
    "  text TEXT);"
    "CREATE INDEX messages_by_message_id ON messages(message_id) WHERE message_id IS NOT NULL;"
    "CREATE INDEX messages_by_guid ON messages(guid) WHERE guid IS NOT NULL;"
    "CREATE INDEX messages_sending ON messages(serial) WHERE state = 'sending';"
    "CREATE TABLE chats ("
    "  service TEXT NOT NULL,"
    "  identifier TEXT NOT NULL,"
    "  style INTEGER NOT NULL,"
    "  participants BLOB NOT NULL,"
    "  PRIMARY KEY (service, identifier, style));";

// The columns in the order of StoredMessage, as readMessage() takes them.
#define MESSAGE_COLUMNS                                                             \
  "serial, service, direction, sender, recipients, text, state, message_id, guid, " \
  "chat_identifier, attachments, error_code, carrier_recipients, time"

// Parameters ?1 to ?13 are bindFields()'s.
constexpr const char* kInsert =
    "INSERT INTO messages (service, direction, sender, recipients, text, state, message_id, guid, "
    "chat_identifier, attachments, error_code, carrier_recipients, time) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)";
constexpr const char* kRewrite =
    "UPDATE messages SET service = ?1, direction = ?2, sender = ?3, recipients = ?4, text = ?5, "
    "state = ?6, message_id = ?7, guid = ?8, chat_identifier = ?9, attachments = ?10, "
    "error_code = ?11, carrier_recipients = ?12, time = ?13 WHERE serial = ?14";

struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

void complain(const std::string& what) {
  std::fprintf(stderr, "pelorin-daemon-host: message store: %s\n", what.c_str());
}

std::vector<std::uint8_t> encodeList(const std::vector<std::string>& list) {
  return nlohmann::json::to_cbor(nlohmann::json(list));
}

std::vector<std::string> decodeList(const void* bytes, int size) {
  std::vector<std::string> list;
  if (bytes == nullptr || size <= 0) return list;
  const auto* begin = static_cast<const std::uint8_t*>(bytes);
  const auto value = nlohmann::json::from_cbor(begin, begin + size, true, false);
  if (!value.is_array()) return list;
  for (const auto& item : value) {
    if (item.is_string()) list.push_back(item.get<std::string>());
  }
  return list;
}

// One use of a kept statement: bind, step, read; reset when it ends.
class Query {
 public:
  explicit Query(sqlite3_stmt* statement) : statement_(statement) {}
  ~Query() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  void bind(int index, std::int64_t value) { sqlite3_bind_int64(statement_, index, value); }
  void bind(int index, double value) { sqlite3_bind_double(statement_, index, value); }
  void bind(int index, const std::string& text) {
    sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  }
  void bind(int index, const Text& text) {
    if (text) {
      bind(index, *text);
    } else {
      sqlite3_bind_null(statement_, index);
    }
  }
  void bind(int index, const std::vector<std::string>& list) {
    const auto bytes = encodeList(list);
    sqlite3_bind_blob64(statement_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  }

  // SQLITE_ROW, SQLITE_DONE, or an error, which is said on stderr.
  int step() {
    const int result = sqlite3_step(statement_);
    if (result != SQLITE_ROW && result != SQLITE_DONE) {
      complain(sqlite3_errmsg(sqlite3_db_handle(statement_)));
    }
    return result;
  }

  bool isNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
  double real(int column) const { return sqlite3_column_double(statement_, column); }
  Text text(int column) const {
    if (isNull(column)) return std::nullopt;
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return std::string(bytes ? bytes : "", sqlite3_column_bytes(statement_, column));
  }
  std::vector<std::string> list(int column) const {
    const void* bytes = sqlite3_column_blob(statement_, column);
    return decodeList(bytes, sqlite3_column_bytes(statement_, column));
  }

 private:
  sqlite3_stmt* const statement_;
};

void bindFields(Query& query, const StoredMessage& m) {
  query.bind(1, m.service);
  query.bind(2, m.direction);
  query.bind(3, m.sender);
  query.bind(4, m.recipients);
  query.bind(5, m.text);
  query.bind(6, m.state);
  if (m.messageId) query.bind(7, std::int64_t{*m.messageId});
  query.bind(8, m.guid);
  query.bind(9, m.chatIdentifier);
  query.bind(10, m.attachments);
  query.bind(11, m.errorCode);
  if (m.carrierRecipients) query.bind(12, *m.carrierRecipients);
  query.bind(13, m.time);
}

StoredMessage readMessage(const Query& row) {
  StoredMessage m;
  m.serial = static_cast<std::uint64_t>(row.integer(0));
  m.service = row.text(1).value_or("");
  m.direction = row.text(2).value_or("");
  m.sender = row.text(3);
  m.recipients = row.list(4);
  m.text = row.text(5);
  m.state = row.text(6).value_or("");
  if (!row.isNull(7)) m.messageId = static_cast<std::uint32_t>(row.integer(7));
  m.guid = row.text(8);
  m.chatIdentifier = row.text(9);
  m.attachments = row.list(10);
  m.errorCode = row.integer(11);
  if (!row.isNull(12)) m.carrierRecipients = row.list(12);
  m.time = row.real(13);
  return m;
}

std::optional<StoredMessage> firstMessage(Query& query) {
  if (query.step() != SQLITE_ROW) return std::nullopt;
  return readMessage(query);
}

// The bytes of a message's texts: never more than its JSON form.
std::size_t textBytes(const StoredMessage& m) {
  std::size_t bytes = m.text.value_or("").size() + m.sender.value_or("").size() +
                      m.guid.value_or("").size() + m.chatIdentifier.value_or("").size();
  for (const auto* list : {&m.recipients, &m.attachments}) {
    for (const auto& item : *list) bytes += item.size();
  }
  return bytes;
}

// Makes an existing file private: only a regular file of the process's user,
// reached without a link, 0600. Creates it (0600) when `create` is set. 0, or
// the errno; ENOENT when it is missing and not to be created.
int makePrivate(const std::string& path, bool create) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0);
  const int fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0) return errno;
  struct stat status {};
  int result = 0;
  if (::fstat(fd, &status) != 0) {
    result = errno;
  } else if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
    result = EPERM;
  } else if ((status.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0) {
    result = errno;
  }
  ::close(fd);
  return result;
}

// Why a database could not be used, and whether the file itself is to blame
// (rather than the machine: a busy lock, a full disk, no memory).
struct Failure {
  std::string why;
  bool fileAtFault = true;
};

bool fileAtFault(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOMEM:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_INTERRUPT:
      return false;
    default:
      return true;
  }
}

Failure failureOf(sqlite3* db, int code) {
  return {db ? sqlite3_errmsg(db) : sqlite3_errstr(code), fileAtFault(code)};
}

// The first column of the first row of `sql`, or the failure.
std::variant<std::int64_t, Failure> integerOf(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  int code = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  Statement statement(raw);
  if (code == SQLITE_OK) code = sqlite3_step(raw);
  if (code != SQLITE_ROW) return failureOf(db, code);
  return sqlite3_column_int64(raw, 0);
}

// Moves the database and its -wal and -shm files aside, never over an
// earlier one; the new name of the database, or nothing when it could not.
std::optional<std::string> setAside(const std::string& path) {
  namespace fs = std::filesystem;
  const std::string base = path + ".unreadable-" + std::to_string(std::time(nullptr));
  std::string aside = base;
  std::error_code error;
  for (int n = 1; fs::symlink_status(aside, error).type() != fs::file_type::not_found; ++n) {
    aside = base + "-" + std::to_string(n);
  }
  fs::rename(path, aside, error);
  if (error && error != std::errc::no_such_file_or_directory) return std::nullopt;
  for (const char* suffix : {"-wal", "-shm"}) {
    std::error_code ignored;
    if (fs::symlink_status(path + suffix, ignored).type() != fs::file_type::not_found) {
      fs::rename(path + suffix, aside + suffix, ignored);
    }
  }
  return aside;
}

}  // namespace

struct MessageStore::Database {
  Connection connection;
  Statement insert, rewrite, byMessageId, byGuid, page, sending, largestId, insertChat, findChat;

  sqlite3* db() const { return connection.get(); }

  // Opens and checks the database at `path` ("" in memory).
  static std::variant<std::unique_ptr<Database>, Failure> open(const std::string& path);
  // The database at `path`, else an empty one there after moving the file
  // aside when it is to blame, else one in memory; null when none would do.
  static std::unique_ptr<Database> openOrSetAside(const std::string& path);

 private:
  std::optional<Failure> useSchema();
  std::optional<Failure> prepareAll();
};

std::variant<std::unique_ptr<MessageStore::Database>, Failure> MessageStore::Database::open(
    const std::string& path) {
  if (!path.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    // SQLite gives the -wal and -shm files the database file's mode.
    if (const int error = makePrivate(path, true)) {
      std::error_code missing;
      const bool exists = std::filesystem::symlink_status(path, missing).type() !=
                          std::filesystem::file_type::not_found;
      return Failure{std::strerror(error), exists};
    }
    for (const char* suffix : {"-wal", "-shm"}) {
      const int error = makePrivate(path + suffix, false);
      if (error != 0 && error != ENOENT)
        return Failure{std::string(suffix) + ": " + std::strerror(error)};
    }
  }
  auto database = std::make_unique<Database>();
  sqlite3* raw = nullptr;
  const int flags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
  const int code = sqlite3_open_v2(path.empty() ? ":memory:" : path.c_str(), &raw, flags, nullptr);
  database->connection.reset(raw);
  if (code != SQLITE_OK) return failureOf(raw, code);
  sqlite3_busy_timeout(raw, 1000);
  if (auto failure = database->useSchema()) return *failure;
  if (auto failure = database->prepareAll()) return *failure;
  return database;
}

std::optional<Failure> MessageStore::Database::useSchema() {
  auto version = integerOf(db(), "PRAGMA user_version");
  if (auto* failure = std::get_if<Failure>(&version)) return *failure;
  auto objects = integerOf(db(), "SELECT count(*) FROM sqlite_master");
  if (auto* failure = std::get_if<Failure>(&objects)) return *failure;
  const auto found = std::get<std::int64_t>(version);
  if (found < 0 || found > kSchemaVersion) {
    return Failure{"schema version " + std::to_string(found) + " is not one this program knows (" +
                   std::to_string(kSchemaVersion) + ")"};
  }
  if (found == 0 && std::get<std::int64_t>(objects) != 0) {
    return Failure{"it holds another program's tables"};
  }
  // Write-ahead logging: a commit is complete once its frames are in the log
  // file, so a killed process loses nothing it committed. With synchronous
  // NORMAL the log is synced at checkpoints only, not at each commit: a power
  // loss may take back the last commits but never corrupts the database,
  // and a process crash cannot lose them (they are in the operating system's
  // cache already). The host holds the database exclusively while it runs
  // (it is the device's message store, read through ListMessages): no file
  // lock per transaction and no shared-memory index, which keeps a stored
  // message cheap.
  char* error = nullptr;
  int code = sqlite3_exec(db(),
                          "PRAGMA locking_mode = EXCLUSIVE; PRAGMA journal_mode = WAL; "
                          "PRAGMA synchronous = NORMAL",
                          nullptr, nullptr, &error);
  if (code == SQLITE_OK && found == 0) {
    const std::string schema =
        kSchema + ("PRAGMA user_version = " + std::to_string(kSchemaVersion) + "; COMMIT;");
    code = sqlite3_exec(db(), schema.c_str(), nullptr, nullptr, &error);
  }
  if (code == SQLITE_OK) return std::nullopt;
  Failure failure{error ? error : sqlite3_errstr(code), fileAtFault(code)};
  sqlite3_free(error);
  return failure;
}

std::optional<Failure> MessageStore::Database::prepareAll() {
  const std::pair<Statement*, const char*> statements[] = {
      {&insert, kInsert},
      {&rewrite, kRewrite},
      {&byMessageId, "SELECT " MESSAGE_COLUMNS
                     " FROM messages WHERE message_id = ?1 ORDER BY serial DESC LIMIT 1"},
      {&byGuid,
       "SELECT " MESSAGE_COLUMNS " FROM messages WHERE guid = ?1 ORDER BY serial DESC LIMIT 1"},
      {&page, "SELECT " MESSAGE_COLUMNS " FROM messages ORDER BY serial LIMIT ?1 OFFSET ?2"},
      {&sending, "SELECT " MESSAGE_COLUMNS
                 " FROM messages WHERE state = 'sending' AND serial <= ?1 ORDER BY serial"},
      {&largestId, "SELECT max(message_id) FROM messages WHERE message_id < ?1"},
      {&insertChat,
       "INSERT OR IGNORE INTO chats (service, identifier, style, participants) "
       "VALUES (?1, ?2, ?3, ?4)"},
      {&findChat,
       "SELECT participants FROM chats WHERE service = ?1 AND identifier = ?2 AND style = ?3"},
  };
  for (const auto& [statement, sql] : statements) {
    sqlite3_stmt* raw = nullptr;
    const int code = sqlite3_prepare_v3(db(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    statement->reset(raw);
    if (code != SQLITE_OK) return failureOf(db(), code);
  }
  return std::nullopt;
}

std::unique_ptr<MessageStore::Database> MessageStore::Database::openOrSetAside(
    const std::string& path) {
  auto opened = open(path);
  if (!path.empty() && std::holds_alternative<Failure>(opened)) {
    const Failure failure = std::get<Failure>(opened);
    complain("cannot use " + path + ": " + failure.why);
    std::optional<std::string> aside;
    if (failure.fileAtFault) aside = setAside(path);
    if (aside) {
      complain("moved it to " + *aside + "; starting with an empty one");
      opened = open(path);
      if (auto* again = std::get_if<Failure>(&opened)) complain("cannot use it: " + again->why);
    }
    if (std::holds_alternative<Failure>(opened)) {
      complain("keeping messages in memory only");
      opened = open("");
    }
  }
  auto* database = std::get_if<std::unique_ptr<Database>>(&opened);
  return database ? std::move(*database) : nullptr;
}

MessageStore::MessageStore(const std::string& path, Listener listener)
    : listener_(std::move(listener)) {
  db_ = Database::openOrSetAside(path);
  if (!db_) return;
  auto count = integerOf(db_->db(), "SELECT count(*) FROM messages");
  auto last = integerOf(db_->db(), "SELECT ifnull(max(serial), 0) FROM messages");
  if (auto* n = std::get_if<std::int64_t>(&count)) count_ = static_cast<std::uint64_t>(*n);
  if (auto* n = std::get_if<std::int64_t>(&last))
    earlierRunsSerial_ = static_cast<std::uint64_t>(*n);
}

MessageStore::~MessageStore() = default;

std::uint64_t MessageStore::add(StoredMessage message) {
  {
    std::lock_guard lock(mutex_);
    if (!db_) return 0;
    message.time = platform::currentDate().secondsSince2001;
    Query insert(db_->insert.get());
    bindFields(insert, message);
    if (insert.step() != SQLITE_DONE) return 0;
    message.serial = static_cast<std::uint64_t>(sqlite3_last_insert_rowid(db_->db()));
    ++count_;
  }
  if (listener_) listener_("added", message);
  return message.serial;
}

bool MessageStore::updateByMessageId(std::uint32_t messageId,
                                     const std::function<void(StoredMessage&)>& change) {
  return update(
      [&](Database& db) {
        Query query(db.byMessageId.get());
        query.bind(1, std::int64_t{messageId});
        return firstMessage(query);
      },
      change);
}

bool MessageStore::updateByGuid(const std::string& guid,
                                const std::function<void(StoredMessage&)>& change) {
  return update(
      [&](Database& db) {
        Query query(db.byGuid.get());
        query.bind(1, guid);
        return firstMessage(query);
      },
      change);
}

bool MessageStore::update(const Finder& find, const std::function<void(StoredMessage&)>& change) {
  StoredMessage changed;
  {
    std::lock_guard lock(mutex_);
    if (!db_) return false;
    auto found = find(*db_);
    if (!found) return false;
    const std::uint64_t serial = found->serial;
    change(*found);
    found->serial = serial;
    Query rewrite(db_->rewrite.get());
    bindFields(rewrite, *found);
    rewrite.bind(14, static_cast<std::int64_t>(serial));
    if (rewrite.step() != SQLITE_DONE) return false;
    changed = std::move(*found);
  }
  if (listener_) listener_("updated", changed);
  return true;
}

MessageStore::Page MessageStore::page(std::uint64_t offset, std::uint32_t limit,
                                      std::size_t byteBudget) const {
  Page page;
  std::lock_guard lock(mutex_);
  page.total = count_;
  if (!db_ || offset >= count_) return page;
  Query query(db_->page.get());
  query.bind(1, std::int64_t{limit});
  query.bind(2, static_cast<std::int64_t>(offset));
  std::size_t bytes = 0;
  while (bytes <= byteBudget && query.step() == SQLITE_ROW) {
    page.messages.push_back(readMessage(query));
    bytes += textBytes(page.messages.back());
  }
  return page;
}

std::vector<StoredMessage> MessageStore::sendingFromEarlierRuns() const {
  std::vector<StoredMessage> messages;
  std::lock_guard lock(mutex_);
  if (!db_) return messages;
  Query query(db_->sending.get());
  query.bind(1, static_cast<std::int64_t>(earlierRunsSerial_));
  while (query.step() == SQLITE_ROW) messages.push_back(readMessage(query));
  return messages;
}

std::uint32_t MessageStore::largestMessageIdBelow(std::uint32_t bound) const {
  std::lock_guard lock(mutex_);
  if (!db_) return 0;
  Query query(db_->largestId.get());
  query.bind(1, std::int64_t{bound});
  if (query.step() != SQLITE_ROW || query.isNull(0)) return 0;
  return static_cast<std::uint32_t>(query.integer(0));
}

void MessageStore::addChat(const StoredChat& chat) {
  std::lock_guard lock(mutex_);
  if (!db_) return;
  Query insert(db_->insertChat.get());
  insert.bind(1, chat.service);
  insert.bind(2, chat.identifier);
  insert.bind(3, std::int64_t{chat.style});
  insert.bind(4, chat.participants);
  insert.step();
}

std::optional<StoredChat> MessageStore::findChat(const std::string& service,
                                                 const std::string& identifier,
                                                 std::uint8_t style) const {
  std::lock_guard lock(mutex_);
  if (!db_) return std::nullopt;
  Query query(db_->findChat.get());
  query.bind(1, service);
  query.bind(2, identifier);
  query.bind(3, std::int64_t{style});
  if (query.step() != SQLITE_ROW) return std::nullopt;
  return StoredChat{service, identifier, style, query.list(0)};
}

}  // namespace pelorin::sim
