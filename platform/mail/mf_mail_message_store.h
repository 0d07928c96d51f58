#pragma once

#include <memory>
#include <string_view>

#include "platform/mail/mf_mail_message.h"
#include "platform/mail/mf_mime_body.h"

namespace pelorin::platform {

// The Mail application's message store. The Mail host implements
// platformSetOrGetBody; everybody calls setOrGetBody, which dispatches through
// the object runtime (runtime.h) once the host registered the class, so a
// tweak's replacement sees every body the store sets or fetches.
class MFMailMessageStore {
 public:
  static constexpr std::string_view kClassName = "MFMailMessageStore";
  static constexpr std::string_view kSetOrGetBodySelector = "_setOrGetBody:forMessage:updateFlags:";

  // The C++ type of the replaceable method, receiver first. The result is the
  // body the store keeps for the message (a replacement passes it back unchanged).
  using SetOrGetBody = std::shared_ptr<MFMimeBody>(MFMailMessageStore&,
                                                   const std::shared_ptr<MFMimeBody>&,
                                                   const std::shared_ptr<MFMailMessage>&, bool);

  MFMailMessageStore() = default;
  MFMailMessageStore(const MFMailMessageStore&) = delete;
  MFMailMessageStore& operator=(const MFMailMessageStore&) = delete;
  virtual ~MFMailMessageStore() = default;

  std::shared_ptr<MFMimeBody> setOrGetBody(const std::shared_ptr<MFMimeBody>& body,
                                           const std::shared_ptr<MFMailMessage>& message,
                                           bool updateFlags);

  // Hosts, at start and before loading tweaks: registers the class and its
  // method with the runtime (unless `offered` is false, when tweaks find
  // nothing to replace and calls run the platform's own implementation).
  static void registerWithRuntime(bool offered = true);

 protected:
  virtual std::shared_ptr<MFMimeBody> platformSetOrGetBody(
      const std::shared_ptr<MFMimeBody>& body, const std::shared_ptr<MFMailMessage>& message,
      bool updateFlags) = 0;

 private:
  static std::shared_ptr<MFMimeBody> originalSetOrGetBody(
      MFMailMessageStore& self, const std::shared_ptr<MFMimeBody>& body,
      const std::shared_ptr<MFMailMessage>& message, bool updateFlags);
};

}  // namespace pelorin::platform
