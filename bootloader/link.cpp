// The link to the phone's boot loader: the search for the port on which a boot
// loader answers, the synchronisation handshake that proves it, and the
// closing byte and port close that end a session.
//
// A boot loader is recognised only by its handshake: twenty cycles in which it
// echoes 0x58, answers the challenge 0xA3 with its complement 0x5C, and
// answers 0x55 with its complement 0xAA. Any deviation rules the port out for
// this pass; the phone may still appear on it in a later pass, because the
// user is often still plugging the phone in when the search starts.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "bootloader/comport.h"

bool CComport::Find_Phone(Port_Candidate* port) {
    Operation_Scope scope(m_port, "Find_Phone");
    m_refused_ports.clear();
    m_last_listing = kPortListOk;
    if (!m_lister)
        return false;

    std::vector<Port_Candidate> candidates;
    candidates.reserve(boot::kListCapacity);
    for (int pass = 0; pass < boot::kSearchPasses && !Stop_Requested(); ++pass) {
        Delay(static_cast<std::int32_t>(m_limits.search_pause));
        candidates.clear();
        const int listed = m_lister->list(candidates);
        m_last_listing = listed;
        if (listed == kPortListNothingFound) {
            candidates.clear();  // no port at all yet: an empty pass, then try again
        } else if (listed != kPortListOk) {
            return false;  // the listing itself is broken; more passes will not mend it
        }

        // Every pass walks the whole list in the listing's order, duplicates
        // included: the first port whose boot loader completes the handshake wins.
        for (const Port_Candidate& candidate : candidates) {
            if (Stop_Requested())
                break;
            if (Try_Port(candidate)) {
                if (port != nullptr)
                    *port = candidate;
                return true;  // left open and synchronised for the caller
            }
        }
    }
    return false;
}

bool CComport::Find_Phone_On(const Port_Candidate& port) {
    Operation_Scope scope(m_port, "Find_Phone");
    m_refused_ports.clear();
    return !Stop_Requested() && Try_Port(port);
}

bool CComport::Try_Port(const Port_Candidate& candidate) {
    if (!Open(candidate.device_path)) {
        // Remember ports we may not use (no permission, in use, not a serial
        // port), so the caller can tell the user why the phone was not found;
        // each port once, with its latest reason.
        if (const Open_Refusal reason = Last_Open_Refusal(); reason != Open_Refusal::kNone)
            Remember_Refusal(candidate, reason);
        return false;
    }
    if (Sync_Boot_Loader())
        return true;
    Close();
    return false;
}

bool CComport::Sync_Boot_Loader() {
    Operation_Scope scope(m_port, "Sync_Boot_Loader");
    for (int cycle = 0; cycle < boot::kSyncCycles; ++cycle) {
        if (!Write_Byte(boot::kSyncCommand))
            return false;
        if (!Confirm_Command(boot::kSyncCommand))
            return false;
        if (!Write_Byte(boot::kSyncCheck))
            return false;
        std::uint8_t answer = 0;
        if (!Read_Byte(answer, m_limits.sync_check) || answer != boot::kSyncAnswer)
            return false;
    }
    return true;
}

bool CComport::Confirm_Command(std::uint8_t command) {
    Operation_Scope scope(m_port, "Confirm_Command");
    std::uint8_t echo = 0;
    if (!Read_Byte(echo, m_limits.sync_echo) || echo != command)
        return false;
    if (!Write_Byte(boot::kConfirmChallenge))
        return false;
    std::uint8_t answer = 0;
    if (!Read_Byte(answer, m_limits.sync_confirm) || answer != boot::kConfirmAnswer)
        return false;
    // Closes the confirmation; the boot loader does not answer it.
    return static_cast<bool>(Write_Byte(boot::kConfirmClose));
}

bool CComport::End_Link() {
    Operation_Scope scope(m_port, "End_Link");
    // Also after a stop: the boot loader is told that the host is gone.
    const Stop_Signal::Unstoppable last_byte(m_port.Stop_Request());
    return static_cast<bool>(Write_Byte(boot::kEndLink));
}

bool CComport::End_Session() {
    if (!Is_Open())
        return false;
    const bool ended = !m_exchange_cut && End_Link();
    Close();
    return ended;
}

void CComport::Remember_Refusal(const Port_Candidate& candidate, Open_Refusal reason) {
    const auto known = std::find_if(
        m_refused_ports.begin(), m_refused_ports.end(),
        [&](const Refused_Port& port) { return port.device_path == candidate.device_path; });
    if (known != m_refused_ports.end()) {
        known->reason = reason;
        return;
    }
    Refused_Port refused;
    static_cast<Port_Candidate&>(refused) = candidate;
    refused.reason = reason;
    m_refused_ports.push_back(refused);
}
