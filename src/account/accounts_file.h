#pragma once
// accounts.conf: every sending account but its password, one section per sender address.
//
//   [me@example.com]
//   host = smtp.example.com
//   port = 465
//   security = TLS
//   user = me@example.com

#include <string>
#include <vector>

#include "account/account.h"

namespace vox {

// $XDG_CONFIG_HOME/voxletter/accounts.conf (~/.config/voxletter/accounts.conf), beside relay.conf.
std::string AccountsFilePath();

// No file is no accounts. False with the reason in *why when the file is there but cannot be read or
// holds a line it does not understand (nothing is then taken from it).
bool LoadAccounts(const std::string& path, std::vector<Account>& accounts, std::string* why);

// Writes the whole file anew (the folder is made when missing); empty on success, else the reason.
std::string SaveAccounts(const std::string& path, const std::vector<Account>& accounts);

// The account of a sender address (compared without regard to case), or nullptr.
const Account* FindAccount(const std::vector<Account>& accounts, const std::string& address);
// Puts account in place of the one for the same address, or adds it.
void PutAccount(std::vector<Account>& accounts, Account account);
// False when there was none.
bool RemoveAccount(std::vector<Account>& accounts, const std::string& address);

}  // namespace vox
