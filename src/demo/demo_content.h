#pragma once
// What the demo machine holds, one function per area so each feature adds its
// own traces and problems beside the others.
namespace brisko {

class MachineBuilder;

// Windows 7 itself: version, the one user's profile and shell folders, the
// environment, a few healthy programs.
void addDemoWindows(MachineBuilder& b);

// Traces for every clean item: MRU lists, temporary files, dumps, a recycle bin, logs.
void addDemoCleanTraces(MachineBuilder& b);

// Office recent lists, messenger logs and caches, and installed programs of
// apls.dat with their traces.
void addDemoApplications(MachineBuilder& b);

// Firefox, Chrome, Opera and Netscape profiles with their databases and files.
void addDemoBrowsers(MachineBuilder& b);

// Internet Explorer 8: cache, cookies, history, typed addresses, autocomplete.
void addDemoInternetExplorer(MachineBuilder& b);

// Registry problems for every scan section, beside healthy entries of each kind.
void addDemoRegistryProblems(MachineBuilder& b);

}  // namespace brisko
