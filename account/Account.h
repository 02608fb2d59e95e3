#pragma once

#include "account/CurrentUser.h"
#include "net/HttpClient.h"
#include "platform/PasswordVault.h"

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The texts of the user center's boxes, in UTF-8, as typed.
struct AccountForm {
    std::string userName;
    std::string password;
    std::string mail;
    std::string telphone;
    std::string alias;
    std::string code; // the SMS verification code
};

// The form body of an account request, application/x-www-form-urlencoded:
//   Register, Modify: username, password, alias, mail, telphone, channel
//   Login:            username, password, channel
//   Logout:           username, channel
// in this order, channel always "ORBALT". Each value is the GBK form of the typed text,
// percent-encoded, so that no typed character can end a value or start another field.
std::string AccountFormBody(AccountRequestKind kind, const AccountForm& form);

// The logout the orderly exit sends for a logged-in user.
std::string ExitLogoutBody(const UserInfo& user);

// Copies the value of `key` from a login reply into `target`: the value starts one character
// after the first occurrence of the key (the separator, whatever it is) and ends before the
// next "|". Without the key, or without a "|" after it, `target` keeps its value. Answers
// whether it copied.
bool ExtractField(std::string_view reply, std::string_view key, std::string& target);

// The message that refuses the boxes as they are, or nothing when the request may go out.
// Register and modify also need the code sent last from this dialog (`smsCode`, empty when
// none was sent, which refuses every code).
std::optional<std::string> CheckLogin(const AccountForm& form);
std::optional<std::string> CheckLogout(const AccountForm& form);
std::optional<std::string> CheckDetails(AccountRequestKind kind, const AccountForm& form,
                                        std::string_view smsCode);

// What the dialog does with a reply.
struct AccountOutcome {
    std::string message;               // a message box; empty for none
    std::optional<std::string> status; // the status box's new text; none leaves it
    bool clearCode = false;            // empties the verification-code box
    // The detail boxes (user name, password, mail, alias, mobile) become read-only (true) or
    // editable (false); none leaves them.
    std::optional<bool> detailsReadOnly;
    // The details the login reply brought: the boxes of mail, alias and mobile show them.
    bool showDetails = false;
    // Registration accepted: the staff notification goes out next, and RegisteredMessage
    // gives the message for its result.
    bool notifyStaff = false;
};

// What the dialog shows for a request whose transfer failed: a message that names the action
// and the reason ("登陆失败!" and, on a second line, "无法与账户服务器通信：连接被拒绝【7|111】"),
// and the same in one line in the status box. A request the user cancelled only says so in
// the status box.
AccountOutcome TransferFailed(std::string_view action, std::string_view server,
                              const HttpReply& reply);

// A login reply containing "login success" logs `user` in with the typed name and password,
// takes alias, mail, telphone, type and valid from the reply and saves the name and password
// (VELMORA_LOGINU / VELMORA_LOGINP). Any other reply fails without a message, the status box
// showing the whole reply either way. A transfer that failed says so (TransferFailed).
AccountOutcome LoginReply(const HttpReply& reply, const AccountForm& form, UserInfo& user,
                          PasswordVault* vault = nullptr);

// An empty reply is the server's confirmation: `user` is logged out. A reply with text leaves
// the user logged in, as the server did not confirm; both cases unlock the boxes. A transfer
// that failed is not a logout at all: the user stays logged in and is told so.
AccountOutcome LogoutReply(const HttpReply& reply, UserInfo& user);

// A reply with "retcode" and "[User registration success!]" fills `user` with the typed
// details, without logging in, and asks for the staff notification; "retcode" alone is a
// refusal. Anything else changes nothing, but a transfer that failed says so.
AccountOutcome RegisterReply(const HttpReply& reply, const AccountForm& form, UserInfo& user);
std::string RegisteredMessage(bool staffNotified);

// A reply with "retcode" is shown from there on; nothing else changes. A transfer that failed
// says so.
AccountOutcome ModifyReply(const HttpReply& reply);

// The boxes of a dialog that opens now. A logged-in user's details are shown; otherwise the
// saved login is read into `user` (a value that cannot be read leaves its field) and only the
// user name and password are shown. A password kept in the keyring is not in the form: see
// ReadSavedPassword.
AccountForm OpeningForm(UserInfo& user);

// The saved login, written after a successful login; failures are ignored. The password goes
// to the keyring `vault` when there is one and it takes it, and VELMORA_LOGINP is then
// emptied; otherwise it is kept in VELMORA_LOGINP (the owner-only settings store).
void SaveLogin(PasswordVault* vault, std::string_view userName, std::string_view password);

// Asks the keyring for the saved password of `userName`: `done` gets it, or nullopt when there
// is no keyring or nothing kept (then the form's password from the settings store stands).
void ReadSavedPassword(PasswordVault* vault, const std::string& userName,
                       std::function<void(std::optional<std::string>)> done);

} // namespace velmora
