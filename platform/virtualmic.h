// SPDX-License-Identifier: GPL-3.0-or-later
// The input "Glimmerbox Voice" that calls, browsers and streaming programs
// can record from: a null sink the live voice plays into, whose monitor is
// offered as a source of its own. Both carry this process's id in their
// properties, so that the left-overs of a process that was killed can be
// told from another running instance's and removed. Both have the lowest
// priority, so that neither server ever makes them a default, and the
// user's defaults never change.
//
// The names are glimmerbox_voice (the source) and glimmerbox_voice_sink;
// while another running instance has those, glimmerbox_voice_PID and
// glimmerbox_voice_sink_PID.
//
// A process that ends normally (exit, or a return from main) takes its
// devices with it; one that is killed leaves them for the next Offer or
// RemoveLeftovers of any instance. A restart of the server removes them:
// Offered() is false from then on, and Offer makes them again.
#pragma once

#include <string>

namespace platform {

inline constexpr const char *VirtualMicDescription = "Glimmerbox Voice";
inline constexpr const char *VirtualMicSinkDescription = "Glimmerbox Voice (output)";
// The property both modules' devices carry: the owner's process id.
inline constexpr const char *VirtualMicOwnerProperty = "glimmerbox.owner.pid";
inline constexpr const char *VirtualMicSourceName = "glimmerbox_voice";
inline constexpr const char *VirtualMicSinkName = "glimmerbox_voice_sink";

class TVirtualMicrophone {
public:
    // Loads the sink and the source unless this process's are there
    // already; first removes left-overs of processes that no longer run.
    // False, with the reason in error, when the server refused or is gone:
    // a phrase for after the caller's own words ("the sound server is not
    // available").
    static bool Offer(std::string &error);
    // Unloads this process's sink and source (nothing when there are none).
    static void Withdraw();
    // Unloads the sinks and sources of processes that no longer run (and
    // any of this process's own that it no longer knows of); answers how
    // many modules went.
    static int RemoveLeftovers();
    // This process's sink and source are on the server now.
    static bool Offered();
    // The sink to play into, and the source others record from (names on
    // the server; empty before Offer).
    static std::string SinkName();
    static std::string SourceName();
    // Whether a device name is a virtual microphone's source, sink or the
    // sink's monitor, of this or any other instance: the live voice must
    // never record from one of them.
    static bool IsVirtualMicDevice(const std::string &name);
};

} // namespace platform
