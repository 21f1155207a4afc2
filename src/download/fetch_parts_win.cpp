// The fetch worker's parts: handed out in order to connections of their own,
// each checked as it arrives and written to its part file, and joined in
// order into the component's file through a bounded window; a part list
// that keeps disagreeing is fetched again once no part is in flight.
#include "download/fetch_worker_internal_win.h"

namespace fetch_worker {
// Brings the slot's part in: from its file when that is there with the
// right sums, else from the site over the slot's connection, into the
// slot's buffer or, where parts are too large to wait in memory, into a
// file of its own that takes the part's name once checked.
Worker::Outcome Worker::FetchPart(PartSlot& slot) {
    const char* name = slot.name;
    const int size = slot.size;
    char* buffer = slot.buffer;
    IAD_HTTPClient& http = *slot.client;
    char partPath[300];
    LocalPath(partPath, sizeof partPath, name);
    char newPath[310];
    std::snprintf(newPath, sizeof newPath, "%s.new", partPath);
    // A streamed part's file is read through this block.
    char* block = buffer ? nullptr : static_cast<char*>(std::malloc(kPartFileBlock));
    if (!buffer && !block) return Failed;
    struct BlockRelease {
        char* block;
        ~BlockRelease() { std::free(block); }
    } release{block};
    slot.present = slot.fetched = false;
    // A part handed back after the part list was fetched again had its
    // pause already.
    bool paused = slot.listFetched;
    slot.listFetched = false;
    bool listAgain = false;
    for (int& failures = slot.failures;; ++failures) {
        if (failures > 0 && !paused) {
            // A part that keeps failing (a missing or damaged part on the
            // server) is given up: nobody may be there to stop the run.
            if (failures >= state->tries) {
                LogEvent("part %s: given up after %d tries", name, failures);
                return Failed;
            }
            // A growing pause, during which a pause or stop request is
            // still heard.
            ++slot.retries;
            Pause(PartRetryDelayMs(failures), slot.wake);
        }
        paused = false;
        WaitWhilePaused(slot.wake);
        if (SlotStopNow()) return Stopped;
        // The worker fetches the list once no other part is in flight, and
        // hands the part back.
        if (listAgain) return ListDoubted;
        int expected = 0;
        if (list.GetValue("sums", name, &expected) != 0) {
            LogEvent("part %s: no sum in the part list", name);
            return Failed;
        }
        if (!PartSizeFits(size, bufferSize)) {
            LogEvent("part %s: %d bytes do not fit the part buffer", name, size);
            return Failed;
        }
        uint32_t sum = static_cast<uint32_t>(expected);
        // A part on the disk was checked when it came, but the disk is not
        // ours alone: it is checked again, strongly where the list can (and
        // a streamed one once more as it is joined).
        long long length = 0;
        if (buffer ? ReadWholePart(partPath, buffer, size) &&
                         CheckPartBytes(buffer, size, sum, list, name) == PartFileMatches
                   : CheckPartFile(partPath, size, sum, list, name, block, &length) == PartFileMatches) {
            // Written whole by a try that failed afterwards, it counts as
            // fetched.
            slot.present = failures == 0;
            return Done;
        }
        HttpSettings& shared = SharedHttpSettings;
        FormatSiteUrl(slot.url, sizeof slot.url, shared.siteUser, shared.sitePassword, state->site, remotePath,
                      name);
        // Received into the whole buffer (or a file as long as the largest
        // part), so that a body longer than the list says comes whole and
        // tells of the list rather than failing as too long.
        http.set_file_limit(bufferSize);
        int received = 0;
        bool came = http.set_urls(slot.url, proxy) == 0 &&
                    (buffer ? http.GetBuffer(nullptr, buffer, bufferSize, &received) : http.GetFile(nullptr, newPath)) == 0;
        if (!came) {
            if (!buffer) DeleteFileA(newPath);
            LogEvent("part %s: try %d failed (%s)", name, failures + 1, http.last_failure());
            // Trying again cannot change a certificate.
            int refused = CertificateRefused(http, slot.certificateHost, sizeof slot.certificateHost);
            if (refused) {
                slot.certificateFailure = refused;
                return Failed;
            }
            listAgain = slot.doubt.TryFailed(false);
            continue;
        }
        // A connection that ends early looks like a complete body to the
        // client, and a damaged part like a good one: the part's size and
        // sum tell, and either being wrong is a failed try. Other bytes with
        // the same 32-bit sum are cheap to make; the strong sum is what
        // tells a forged part.
        PartFileCheck check = PartFileMatches;
        if (buffer) {
            length = received;
            check = received != size ? PartFileWrongSize : CheckPartBytes(buffer, size, sum, list, name);
        } else {
            check = CheckPartFile(newPath, size, sum, list, name, block, &length);
        }
        if (check != PartFileMatches) {
            if (!buffer) DeleteFileA(newPath);
            if (check == PartFileWrongSize)
                LogEvent("part %s: try %d failed (%lld of %d bytes)", name, failures + 1, length, size);
            else if (check == PartFileUnreadable)
                LogEvent("part %s: try %d failed (it cannot be read back)", name, failures + 1);
            else
                LogEvent("part %s: try %d failed (the %s does not match the part list)", name, failures + 1,
                         check == PartFileWrongSum ? "sum" : "SHA-256");
            listAgain = slot.doubt.TryFailed(check != PartFileUnreadable);
            continue;
        }
        // Only a checked part reaches its name on the disk, where a later
        // run finds it.
        if (buffer ? !WriteWholePart(partPath, buffer, size)
                   : !MoveFileExA(newPath, partPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            if (!buffer) DeleteFileA(newPath);
            LogEvent("part %s: try %d failed (it cannot be written to the disk)", name, failures + 1);
            listAgain = slot.doubt.TryFailed(false);
            continue;
        }
        slot.fetched = true;
        // Where each part came from, when a component has several sites;
        // without any user information the site text may carry.
        char shown[1400];
        if (!PacLookupUrl(state->site, remotePath, name, shown, sizeof shown)) CopyTruncated(shown, sizeof shown, "?");
        LogEvent("part %s: fetched from %s", name, shown);
        return Done;
    }
}

Worker::Outcome Worker::FetchPartListAgain(const char* partName) {
    LogEvent("part %s: its bytes came whole and disagreed with the part list %d times in a row; the part list is fetched again",
             partName, kSumFailuresBeforeListAgain);
    char listPath[300];
    char freshPath[300];
    LocalPath(listPath, sizeof listPath, kPartList);
    LocalPath(freshPath, sizeof freshPath, "pkginfo.new");
    // Through the proxy that reached the list, into a file of its own: the
    // list in use stays whole whatever comes.
    HttpSettings& shared = SharedHttpSettings;
    FormatSiteUrl(url, sizeof url, shared.siteUser, shared.sitePassword, state->site, remotePath, kPartList);
    bool reached = TryPartList(freshPath, "the settings that reached it before");
    if (reached && !SameFileBytes(listPath, freshPath) &&
        MoveFileExA(freshPath, listPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        LogEvent("part list of %s: it changed on the server; the parts start over with it", remotePath);
        return ListChanged;
    }
    DeleteFileA(freshPath);
    if (reached) LogEvent("part list of %s: unchanged", remotePath);
    // TryPartList read what came; the list in use is read back.
    return list.Load(listPath) == 0 ? Done : Failed;
}

Worker::Outcome Worker::FetchParts() {
    // A part list that changed on the server starts the parts over: the
    // file is written anew from its start with the new list, the parts
    // already on the disk taken again where their sums still agree.
    for (;;) {
        Outcome outcome = JoinParts();
        if (outcome != ListChanged) return outcome;
        // Parts kept on the disk before count again as they are found.
        partsPresent = 0;
        joiner.Stop();
        FreeBuffers();
        if (output) std::fclose(output);
        output = std::fopen(localFile, "wb");
        if (!output) return Failed;
        std::setvbuf(output, nullptr, _IONBF, 0);
    }
}

DWORD WINAPI Worker::SlotThread(LPVOID self) {
    PartSlot* slot = static_cast<PartSlot*>(self);
    for (;;) {
        WaitForSingleObject(slot->go, INFINITE);
        if (slot->quit) return 0;
        slot->outcome = slot->worker->FetchPart(*slot);
        SetEvent(slot->done);
    }
}

void Worker::Dispatch(PartSlot& slot) {
    slot.busy = true;
    if (slot.thread) {
        SetEvent(slot.go);
        return;
    }
    slot.outcome = FetchPart(slot);
    SetEvent(slot.done);
}

bool Worker::MakeSlot(PartSlot& slot, int index) {
    slot.worker = this;
    slot.state = state;
    slot.abort = &abortParts;
    if (index == 0) {
        slot.client = &client;
    } else {
        // Each further connection logs on to a proxy for itself.
        slot.ownLogin = new (std::nothrow) SspiProxyLogin;
        slot.ownClient = slot.ownLogin ? new (std::nothrow) IAD_HTTPClient(0, state->timeouts) : nullptr;
        if (!slot.ownClient) return false;
        slot.basic = basicProxies;
        slot.ownClient->set_proxy_login(slot.ownLogin);
        slot.ownClient->set_basic_memory(&slot.basic);
        slot.ownClient->set_own_login_allowed(ownLoginAllowed);
        slot.client = slot.ownClient;
    }
    slot.go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    slot.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    slot.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!slot.go || !slot.done || !slot.wake) return false;
    slot.client->set_cancel(SlotTransferUnwanted, &slot);
    slot.thread = CreateThread(nullptr, 0, SlotThread, &slot, 0, nullptr);
    // The first slot can work on the worker's thread; others cannot.
    return slot.thread || index == 0;
}

int Worker::StartSlots(int count) {
    abortParts = false;
    slots = new (std::nothrow) PartSlot[count];
    if (!slots) return 0;
    slotCount = count;
    int made = 0;
    while (made < count && MakeSlot(slots[made], made)) ++made;
    // Fewer connections where not all could be made; none fails the fetch.
    for (int i = made; i < count; ++i) EndSlot(slots[i]);
    slotCount = made;
    if (made == 0) EndSlots();
    return made;
}

void Worker::EndSlot(PartSlot& slot) {
    if (slot.busy && slot.done) WaitForSingleObject(slot.done, INFINITE);
    slot.busy = false;
    if (slot.thread) {
        slot.quit = true;
        SetEvent(slot.go);
        WaitForSingleObject(slot.thread, INFINITE);
        CloseHandle(slot.thread);
        slot.thread = nullptr;
    }
    for (HANDLE* event : {&slot.go, &slot.done, &slot.wake}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
    if (slot.ownClient) slotConnections += slot.ownClient->connections_made();
    delete slot.ownClient;
    delete slot.ownLogin;
    slot.ownClient = nullptr;
    slot.ownLogin = nullptr;
}

void Worker::EndSlots() {
    for (int i = 0; i < slotCount; ++i) EndSlot(slots[i]);
    delete[] slots;
    slots = nullptr;
    slotCount = 0;
    client.set_cancel(TransferUnwanted, state);
}

Worker::Outcome Worker::JoinParts() {
    char listPath[300];
    LocalPath(listPath, sizeof listPath, kPartList);
    if (list.Load(listPath) != 0) return Failed;
    PartPlan plan;
    ReadPartPlan(list, &plan);
    bufferSize = plan.bufferSize;
    ReportCount(msgDl2, plan.total);
    PartSlots planned = PlanPartSlots(state->connections, bufferSize, plan.count, state->partMemory);
    // Streamed parts wait in their files: their "buffers" hold no memory.
    const bool streamed = planned.streamed;
    int bufferCount = streamed ? planned.buffers : 0;
    while (bufferCount < planned.buffers &&
           (buffers[bufferCount] = static_cast<char*>(std::malloc(bufferSize > 0 ? bufferSize : 1))) != nullptr)
        ++bufferCount;
    // Fewer connections where memory is short; one at least, or the fetch
    // fails.
    if (bufferCount == 0) return Failed;
    if (!streamed && planned.connections >= bufferCount) planned.connections = bufferCount > 1 ? bufferCount - 1 : 1;
    const int connections = StartSlots(planned.connections);
    if (connections == 0) return Failed;
    LogEvent("%s: %d parts, up to %d at once%s", remotePath, plan.count, connections,
             streamed ? ", each through its file" : "");
    joiner.Start(output, plan.strongSums != 0);

    // Which part each buffer holds (-1: free) and whether it came in.
    int holds[kMostBuffers];
    bool in[kMostBuffers];
    for (int b = 0; b < bufferCount; ++b) holds[b] = -1, in[b] = false;
    int joining = -1;  // the buffer the joiner has
    int nextPart = 0;  // handed out in order, so the next to join is always in hand or in
    int nextJoin = 0;
    long long completed = 0;
    Outcome outcome = Done;
    auto freeJoined = [&]() {
        if (joining < 0) return true;
        bool joined = joiner.Wait();
        holds[joining] = -1;
        joining = -1;
        return joined;
    };
    for (;;) {
        // The parts that came in.
        bool busy = false;
        bool listWanted = false;
        for (int i = 0; i < connections; ++i) {
            PartSlot& slot = slots[i];
            if (slot.busy && WaitForSingleObject(slot.done, 0) == WAIT_OBJECT_0) {
                ResetEvent(slot.done);
                slot.busy = false;
                retries += slot.retries;
                slot.retries = 0;
                switch (slot.outcome) {
                case Done:
                    in[slot.entry] = true;
                    completed += slot.size;
                    if (slot.present) ++partsPresent;
                    else ++partsFetched;
                    // Progress as parts complete, in whatever order.
                    if (slot.fetched) ReportCount(msgDl3, completed);
                    break;
                case ListDoubted:
                    slot.awaitsList = true;
                    break;
                case Stopped:
                    holds[slot.entry] = -1;
                    if (outcome == Done) outcome = Stopped;
                    break;
                default:
                    holds[slot.entry] = -1;
                    outcome = Failed;
                    if (slot.certificateFailure) {
                        certificateFailure = slot.certificateFailure;
                        CopyTruncated(certificateHost, sizeof certificateHost, slot.certificateHost);
                    }
                    break;
                }
            }
            busy = busy || slot.busy;
            listWanted = listWanted || slot.awaitsList;
        }
        // A stop made during a pause waits with the parts: clearing the
        // pause drops it.
        if (outcome == Done && TransferUnwanted(state)) outcome = Stopped;
        if (outcome != Done) {
            // A failed part ends the others at once, a part in its pause
            // too; a stop ends them itself. Parts already checked stay on
            // the disk.
            if (!abortParts) {
                abortParts = true;
                for (int i = 0; i < connections; ++i) SetEvent(slots[i].wake);
            }
            if (!busy) break;
        } else {
            // Joined in order, each from the buffer it came into.
            for (int b = 0; b < bufferCount && nextJoin < plan.count;) {
                if (holds[b] != nextJoin || !in[b]) {
                    ++b;
                    continue;
                }
                if (!freeJoined()) {
                    outcome = Failed;
                    break;
                }
                int size = 0;
                char name[32];
                PartName(nextJoin, name, sizeof name);
                list.GetValue("files", name, &size);
                if (streamed) {
                    char path[300];
                    LocalPath(path, sizeof path, name);
                    int sum = 0;
                    list.GetValue("sums", name, &sum);
                    unsigned char strongSum[kSha256Size];
                    bool strong = list.GetSha256(name, strongSum) == 0;
                    joiner.JoinFile(path, size, static_cast<uint32_t>(sum), strong ? strongSum : nullptr);
                } else {
                    joiner.Join(buffers[b], size);
                }
                joining = b;
                ++nextJoin;
                b = 0;
            }
            if (outcome != Done) continue;
            if (nextJoin == plan.count) break;
            if (listWanted) {
                // The list is loaded anew only while no part is in flight.
                if (!busy) {
                    PartSlot* first = nullptr;
                    for (int i = 0; i < connections; ++i)
                        if (slots[i].awaitsList && !first) first = &slots[i];
                    Outcome again = FetchPartListAgain(first->name);
                    for (int i = 0; i < connections; ++i) {
                        PartSlot& slot = slots[i];
                        slot.doubt.ListFetched();
                        if (!slot.awaitsList) continue;
                        slot.awaitsList = false;
                        if (again != Done) {
                            holds[slot.entry] = -1;
                            continue;
                        }
                        slot.listFetched = true;
                        Dispatch(slot);
                    }
                    if (again != Done) {
                        outcome = again;
                        break;
                    }
                    continue;
                }
            } else {
                // Further parts to the connections that are free, as long
                // as buffers are.
                for (int i = 0; i < connections && nextPart < plan.count; ++i) {
                    PartSlot& slot = slots[i];
                    if (slot.busy) continue;
                    int b = 0;
                    while (b < bufferCount && holds[b] >= 0) ++b;
                    if (b == bufferCount && joining >= 0) {
                        b = joining;
                        if (!freeJoined()) {
                            outcome = Failed;
                            break;
                        }
                    }
                    if (b == bufferCount) break;
                    holds[b] = nextPart;
                    in[b] = false;
                    slot.entry = b;
                    slot.buffer = buffers[b];
                    PartName(nextPart, slot.name, sizeof slot.name);
                    slot.size = 0;
                    list.GetValue("files", slot.name, &slot.size);
                    slot.failures = 0;
                    slot.listFetched = false;
                    slot.doubt.NextPart();
                    ++nextPart;
                    Dispatch(slot);
                }
                if (outcome != Done) continue;
            }
        }
        // Until a part comes in, or a request changes: that is passed on to
        // every slot waiting in a pause.
        HANDLE waits[1 + kMostConnections];
        DWORD count = 0;
        waits[count++] = state->wake;
        for (int i = 0; i < connections; ++i)
            if (slots[i].busy) waits[count++] = slots[i].done;
        if (WaitForMultipleObjects(count, waits, FALSE, 1000) == WAIT_OBJECT_0)
            for (int i = 0; i < connections; ++i) SetEvent(slots[i].wake);
    }
    if (outcome == Done && !freeJoined()) outcome = Failed;
    EndSlots();
    if (outcome != Done) return outcome;
    joiner.Stop();
    FreeBuffers();
    int closed = std::fclose(output);
    output = nullptr;
    if (closed != 0) return Failed;
    int expected = 0;
    if (list.GetValue("sums", "total_sum", &expected) != 0) {
        LogEvent("part list of %s: no total_sum", remotePath);
        return Failed;
    }
    // The sum is final once taken: taken once.
    uint32_t total = joiner.Sum32();
    if (total != static_cast<uint32_t>(expected)) {
        LogEvent("%s: the joined parts do not match total_sum (%u, listed %u)", remotePath, total,
                 static_cast<uint32_t>(expected));
        return Failed;
    }
    if (plan.strongSums) {
        unsigned char whole[kSha256Size];
        joiner.Sha256Final(whole);
        if (CheckStrongSum(list, kSha256TotalKey, whole) != StrongSumMatches) {
            LogEvent("%s: the joined parts do not match the SHA-256 total of the part list", remotePath);
            return Failed;
        }
    }
    return Done;
}
}  // namespace fetch_worker
