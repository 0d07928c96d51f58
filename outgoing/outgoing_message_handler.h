#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "common/send_mode.h"
#include "outgoing/send_rule_handler.h"
#include "platform/messaging/ct_message.h"
#include "platform/messaging/fz_message.h"
#include "platform/messaging/imd_chat.h"
#include "platform/text.h"

namespace pelorin {

class AutoRuleHandler;
class GVInterface;
class IncomingMessageHandler;

// Decides how every outgoing text of the messaging daemon travels: the
// platform's own send goes ahead (carrier SMS, possibly to an access number,
// or an iMessage), or the text is taken over (sent through Google Voice by a
// worker thread, or moved to the other chat service).
//
// Threads: the entry points run on whatever thread the daemon calls its send
// methods on; the setters run on the notification thread. Flags are read and
// written without a lock (a decision may see a mix of old and new settings
// during a reload); the redirected-chat set and the signature have locks.
class OutgoingMessageHandler {
 public:
  // What a handler works with. The shared instance uses the process's shared
  // objects and the rules file under the root; tests and tools give their own.
  struct Dependencies {
    std::optional<std::string> rulesFile;  // absent: the rules file under the root
    AutoRuleHandler* autoRuleHandler = nullptr;
    IncomingMessageHandler* incomingMessageHandler = nullptr;  // the device kind
    GVInterface* gvInterface = nullptr;                        // access numbers and sends
  };

  // Which step of rule evaluation gave the mode, and the send rule's key when
  // a send rule did.
  struct RuleDecision {
    enum class Source : std::uint8_t { OmniSend, RulesOff, SendRule, AutoRule, Default };
    Source source = Source::Default;
    Text ruleKey;
  };

  // The process's handler: created on first call (reading the rules file),
  // never destroyed.
  static OutgoingMessageHandler& sharedInstance();

  // Reads the rules file at once. Every pointer in `dependencies` must be set
  // and outlive the handler and every worker it starts.
  explicit OutgoingMessageHandler(const Dependencies& dependencies);
  OutgoingMessageHandler(const OutgoingMessageHandler&) = delete;
  OutgoingMessageHandler& operator=(const OutgoingMessageHandler&) = delete;

  // --- Settings ---

  void setDefaultSMSSendMode(SendMode mode) { store(defaultSMSSendMode_, mode); }
  // 1 when the stored default is non-zero, else 0: the SMS path only ever
  // defaults to the carrier or Google Voice.
  SendMode defaultSMSSendMode() const { return load(defaultSMSSendMode_) != 0 ? 1 : 0; }
  void setEnableiMessageRules(bool enable) { store(enableiMessageRules_, enable); }
  bool enableiMessageRules() const { return load(enableiMessageRules_); }
  void setEnableOmniDorvessa(bool enable) { store(enableOmniDorvessa_, enable); }
  bool enableOmniDorvessa() const { return load(enableOmniDorvessa_); }
  void setEnableSendRules(bool enable) { store(enableSendRules_, enable); }
  bool enableSendRules() const { return load(enableSendRules_); }
  void setEnableShortCodeonGV(bool enable) { store(enableShortCodeonGV_, enable); }
  bool enableShortCodeonGV() const { return load(enableShortCodeonGV_); }
  void setEnableIntlSMSDorvessa(bool enable) { store(enableIntlSMSDorvessa_, enable); }
  bool enableIntlSMSDorvessa() const { return load(enableIntlSMSDorvessa_); }
  void setEnableIntliMsgDorvessa(bool enable) { store(enableIntliMsgDorvessa_, enable); }
  bool enableIntliMsgDorvessa() const { return load(enableIntliMsgDorvessa_); }
  void setAllGVasSMS(bool enable) { store(allGVasSMS_, enable); }
  bool allGVasSMS() const { return load(allGVasSMS_); }
  void setGVSMSviaCarrier(bool enable) { store(gvSMSviaCarrier_, enable); }
  bool gvSMSviaCarrier() const { return load(gvSMSviaCarrier_); }
  void setSendSignature(const Text& signature);
  Text sendSignature() const;

  // Makes the send rules read the rules file again.
  void readSendRules();

  // --- Redirected chats ---

  void addChatID(const Text& chatIdentifier);
  // True when the identifier was in the set; it is removed in the same step.
  bool testAndRemoveChatID(const Text& chatIdentifier);

  // --- Decisions ---

  // The mode of a canonical number: every number through Google Voice when
  // omni-send is on; the default when rules are off; else the send rule, the
  // automatic rule set (Google Voice), or the default. `decision`, when
  // given, records which step decided.
  SendMode sendModebyRules(const Text& number, SendMode defaultMode,
                           RuleDecision* decision = nullptr);

  // The SMS send hook: true when the system took the message over (then
  // `returnValue` holds what the hook returns: false); false lets the
  // platform send it, possibly to an access number put in as recipient.
  bool processOutgoingSMS(const std::shared_ptr<platform::CTMessage>& message, bool& returnValue);

  // The mode of one iMessage participant's ID.
  SendMode sendModebyPhoneTypeforiMsg(const Text& participantID);

  // The chat send hook, iMessage side: true when the system took the message
  // over (through Google Voice, or moved to the SMS service).
  bool processOutgoingiMessage(const std::shared_ptr<platform::FZMessage>& message,
                               const std::shared_ptr<platform::IMDChat>& chat);
  // The chat send hook, SMS side on a device without a phone: true when the
  // message was moved to the iMessage service.
  bool redirectSMStoiMessageforiPoad(const std::shared_ptr<platform::FZMessage>& message,
                                     const std::shared_ptr<platform::IMDChat>& chat);
  // Hands the message to the session of `altService` ("SMS" or "iMessage"),
  // in its chat of the same identifier and style; false when there is none.
  bool redirecttoAlternateSession(const std::shared_ptr<platform::FZMessage>& message,
                                  const std::shared_ptr<platform::IMDChat>& chat,
                                  const std::string& altService);
  // Starts the iMessage worker and marks the message sent at once; true.
  bool redirectiMessagetoGV(const std::shared_ptr<platform::FZMessage>& message,
                            const std::shared_ptr<platform::IMDChat>& chat);

  bool isAniPhone() const;
  GVInterface& gvInterface() const { return *gvInterface_; }

 private:
  template <class T>
  static void store(std::atomic<T>& field, T value) {
    field.store(value, std::memory_order_relaxed);
  }
  template <class T>
  static T load(const std::atomic<T>& field) {
    return field.load(std::memory_order_relaxed);
  }

  // `text` with the signature after a newline, when there is one.
  std::string withSignature(std::string text) const;

  std::atomic<SendMode> defaultSMSSendMode_{SendModeGoogleVoice};
  std::atomic<bool> enableiMessageRules_{false};
  std::atomic<bool> enableOmniDorvessa_{false};
  std::atomic<bool> enableSendRules_{true};
  std::atomic<bool> enableShortCodeonGV_{false};
  std::atomic<bool> enableIntlSMSDorvessa_{false};
  std::atomic<bool> enableIntliMsgDorvessa_{false};
  std::atomic<bool> allGVasSMS_{true};
  std::atomic<bool> gvSMSviaCarrier_{false};

  std::mutex smsChatIDLock_;
  std::set<std::string> smsChatIDs_;  // guarded by smsChatIDLock_

  mutable std::mutex sendSignatureLock_;
  Text sendSignature_;  // guarded by sendSignatureLock_

  SendRuleHandler sendRuleHandler_;
  AutoRuleHandler* const autoRuleHandler_;
  IncomingMessageHandler* const incomingMessageHandler_;
  GVInterface* const gvInterface_;
};

}  // namespace pelorin
