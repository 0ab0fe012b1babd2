// The three transports behind Transport::Create.
#pragma once

#include "mailsystem/transport/Transport.h"

namespace mail {

std::unique_ptr<Transport> MakeOutboxTransport(const std::string& directory,
                                               const std::string& sender);
std::unique_ptr<Transport> MakeSmtpTransport(const TransportConfig& config,
                                             const std::string& sender,
                                             const TransportLimits& limits);
// `config` has passed CheckTransport.
std::unique_ptr<Transport> MakeWebTransport(const TransportConfig& config,
                                            const TransportLimits& limits);

// Random bits from the kernel (for unique names); falls back to time and address bits.
uint64_t RandomBits();

} // namespace mail
