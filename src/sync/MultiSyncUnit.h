// Source unit named by every error the synchronisation code raises.
#pragma once

namespace orvex {
constexpr const char* kMultiSyncUnit = "MultiSync";
} // namespace orvex
