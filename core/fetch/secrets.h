// Secrets (tokens, passwords, API and app keys) never reach a log line in
// clear: only their first two characters and their length.
#pragma once

#include <string>

// "ab…(32)"-style mask: the first two characters, then the length.
std::string maskSecret(const std::string& secret);
// Whether a query key or header name names a secret: a key, token,
// password, secret, auth(orization), signature or cookie.
bool isSecretName(const std::string& name);
// The URL with the password of its user information and the values of
// secret query keys (any key naming a key, token, password, secret...) masked.
std::string maskUrlSecrets(const std::string& url);
