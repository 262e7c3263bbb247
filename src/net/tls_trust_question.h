#pragma once

#include "net/tls_configuration.h"

class UserPrompt;

// Puts a refused certificate to the user and applies the answer: Once trusts it for the
// life of the process, Always also keeps it (TlsConfiguration::TrustAlways), No leaves
// it refused. True when it is trusted now. A refusal that carries no certificate (the
// server sent none) is not asked about.
bool AskToTrustCertificate(UserPrompt& prompt, const TlsRefusal& refusal,
                           TlsConfiguration& configuration = TlsConfiguration::Shared());
