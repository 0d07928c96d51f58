#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/aps_incoming_message.h"
#include "platform/mail/mf_mail_message.h"
#include "platform/mail/mf_mime_body.h"
#include "platform/messaging/ct_message.h"
#include "platform/text.h"
#include "platform/value.h"

namespace pelorin {

class AccessNumberCache;
class AutoRuleHandler;
class ContactCache;
class IncomingDistributedMessageHandler;

// Turns a Google Voice text that reached the device by a side road (push,
// mail, or a carrier SMS from an access number) into an ordinary incoming
// message from the real sender. One instance per process; each library
// configures its own through its settings reader and uses only the
// operations of its road.
class IncomingMessageHandler {
 public:
  // Ids from here up belong to messages this handler injects; every id below
  // is a real carrier message.
  static constexpr std::uint32_t kFirstInjectedId = 0xFFFF0000u;
  // At most this many records wait for the platform to ask for them; beyond
  // it the oldest is dropped. Far below the 65,536 injected ids, so an id
  // that comes round again is never still waiting.
  static constexpr std::size_t kMaxWaitingRecords = 256;

  // The objects the handler works with; each nullptr means the process's
  // shared instance. They must outlive the handler.
  struct Collaborators {
    ContactCache* contacts = nullptr;
    AccessNumberCache* accessNumbers = nullptr;  // default: the GVInterface's cache
    AutoRuleHandler* autoRules = nullptr;
    IncomingDistributedMessageHandler* centreClient = nullptr;
  };

  static IncomingMessageHandler& sharedInstance();

  IncomingMessageHandler() = default;
  explicit IncomingMessageHandler(Collaborators collaborators) : collaborators_(collaborators) {}
  IncomingMessageHandler(const IncomingMessageHandler&) = delete;
  IncomingMessageHandler& operator=(const IncomingMessageHandler&) = delete;

  // --- Home screen ---

  // A push of the official Google Voice application whose alert is
  // "Text from SENDER:\nTEXT" (or "Text from TEXT": sender "10000000000")
  // is sent to the daemon over the received-SMS centre. True when it was a
  // Google Voice text and the record left; false leaves the push to the
  // platform (also when the centre could not take it, so the text is not lost).
  bool handleGVPushNotification(const platform::APSIncomingMessage& message);

  // --- Messaging daemon ---

  // The received-SMS centre's handler, all on the calling thread: a sender
  // that is no number is looked up as a contact name (blocking on the
  // network); the record is delivered as SMS on an iPhone, as iMessage
  // otherwise; the sender becomes an automatic rule. A record without a text
  // is dropped.
  void handleReceivedSMSforMessage(const std::string& messageName,
                                   const platform::Dictionary& record);

  // The same in two steps, for a server that keeps the lookup off its thread
  // (ReceivedSMSWorker). resolvedRecord (any thread; waits as long as
  // `lookUp`): the record as it is to be delivered, its sender replaced by
  // what `lookUp` gives when it is no number; nothing for a record without a
  // text. deliverReceivedSMS (the serving thread): delivers a resolved record.
  using SenderLookup = std::function<Text(const Text& name)>;
  std::optional<platform::Dictionary> resolvedRecord(const platform::Dictionary& record,
                                                     const SenderLookup& lookUp);
  void deliverReceivedSMS(const platform::Dictionary& record);
  // Whether resolvedRecord would look the record's sender up (a text whose
  // sender is no number). Any thread; never blocks.
  static bool needsSenderLookup(const platform::Dictionary& record);
  // The number for a display-name sender from the contact cache, or the name
  // unchanged. Any thread; blocks on the network.
  Text numberForName(const Text& name);
  // Queues the record under the next injected id and announces it with
  // "kCTMessageReceivedNotification" (after the queue's lock is released).
  void processasSMS(const platform::Dictionary& record);
  // Hands the record to the iMessage session as a received message in the
  // one-to-one chat of the sender (international form); dropped without one.
  void processasiMsg(const platform::Dictionary& record);

  // The daemon's incoming-message hook: the injected message queued under
  // `messageId` (taken off the queue), or nullptr for an id below the
  // reserved range or one not waiting (the platform's own lookup then runs).
  std::shared_ptr<platform::CTMessage> processIncomingMessage(std::uint32_t messageId);

  // The daemon's incoming-message hook, for a received one-part SMS: rewrites
  // a text that Google Voice forwarded from an access number in place
  // (sender and body), and learns the access number. Blocks on the network
  // when a contact name must be looked up.
  void modifyMessageifGV(platform::CTMessage& message);

  // --- Mail application ---

  // The text-mail sender test: a sender holding this is a Google Voice text mail.
  static constexpr std::string_view kTextMailSenderTest = "@txt.voice.google.com";
  static constexpr std::string_view kMailSignatureMarker = "\n--\nSent using SMS-to-email";

  // The mail store's "MailMessageStoreMessagesAdded": every message under
  // "messages" whose sender is a Google Voice text mail is listed (once) to
  // be processed when its body is set. Nothing while mail receiving is off.
  void handleMailMessageStorage(const platform::NotificationObjects& userInfoObjects);
  // The store sets a message's body: a listed message is taken off the list
  // (so it is processed at most once), checked against the account and
  // mailbox filters (compared ignoring case as Unicode defines it), and its
  // first HTML part, decoded by its declared character set, is sent to the
  // daemon as a text from the number in the sender address. A body without a
  // decodable HTML part, or a sender without a number, is logged and dropped:
  // the daemon would refuse the record, or take a piece of an address for a
  // name.
  void processMailMessage(const std::shared_ptr<platform::MFMailMessage>& message,
                          const std::shared_ptr<platform::MFMimeBody>& body);
  // Plain text from a text mail's HTML: NUL bytes and source line breaks
  // dropped, "<BR>" made a line break, the upper-case HTML/BODY/SPAN tags
  // removed, five entities decoded, then cut at the signature marker (or,
  // without one, the line break of a final "<BR>" removed).
  static std::string extractTextMessage(const std::string& html);
  // The number in a text-mail sender: the address after the last "<" must
  // have a part before its "@" of (at least) three dot-separated fields,
  // ID.NUMBER.KEY; the second, when not empty. Nothing for any other sender.
  static Text getNumberFromAddress(const Text& address);
  // The identifiers announced and not yet processed, oldest first.
  std::vector<std::string> recvdMailMessageIDList();

  // Settings, written by the settings readers and read without a lock.
  void setRecvSignature(const Text& signature);
  Text recvSignature() const;
  void setEnableReceiveOfficialGV(bool enable) { enableReceiveOfficialGV_ = enable; }
  bool enableReceiveOfficialGV() const { return enableReceiveOfficialGV_; }
  void setEnableReceiveByMail(bool enable) { enableReceiveByMail_ = enable; }
  bool enableReceiveByMail() const { return enableReceiveByMail_; }
  void setAccountOption(std::int32_t option) { accountOption_ = option; }
  std::int32_t accountOption() const { return accountOption_; }
  void setIsAniPhone(bool isAniPhone) { isAniPhone_ = isAniPhone; }
  bool isAniPhone() const { return isAniPhone_; }
  void setRecvMailAccount(const Text& account);
  Text recvMailAccount() const;
  void setRecvMailLabel(const Text& label);
  Text recvMailLabel() const;

 private:
  struct ReceivedSMS {
    Text text;
    Text sender;
  };

  static ReceivedSMS recordFields(const platform::Dictionary& record);
  // The text with "\n" and the receive signature when one is set.
  Text withSignature(const Text& text) const;

  ContactCache& contacts() const;
  AccessNumberCache& accessNumbers() const;
  AutoRuleHandler& autoRules() const;
  IncomingDistributedMessageHandler& centreClient() const;

  const Collaborators collaborators_{};

  std::atomic<bool> enableReceiveOfficialGV_{false};
  std::atomic<bool> isAniPhone_{true};
  std::atomic<bool> enableReceiveByMail_{false};
  std::atomic<std::int32_t> accountOption_{1};

  mutable std::mutex textSettingsLock_;
  // Guarded by textSettingsLock_: texts cannot be swapped atomically.
  Text recvSignature_;
  Text recvMailAccount_;
  Text recvMailLabel_;

  std::mutex recvdMessageLock_;
  // Guarded by recvdMessageLock_: records waiting for the platform to ask
  // for their id (oldest first), and the next id to hand out.
  std::deque<std::pair<std::uint32_t, ReceivedSMS>> recvdMessageList_;
  std::uint32_t nextInjectedId_ = kFirstInjectedId;

  // How many processed text mails are remembered, so that a mail the store
  // announces again later is not forwarded a second time.
  static constexpr std::size_t kRememberedMailMessageIDs = 1024;

  std::mutex recvdMailMessageLock_;
  // Guarded by recvdMailMessageLock_: announced text mails not yet processed,
  // and the most recently processed ones (oldest first).
  std::vector<std::string> recvdMailMessageIDList_;
  std::deque<std::string> processedMailMessageIDs_;
};

}  // namespace pelorin
