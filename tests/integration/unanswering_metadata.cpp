// Exports a "settings" metadata and then stops, so that it answers none of
// the server's pings for the clients that bind it. PipeWire keeps such a
// client's messages unread until the answer comes: the way a session manager
// caught in a deadlock looks to everyone else. SIGCONT lets it answer again;
// SIGTERM ends it. (Killed while stopped, it would leave every client that
// bound it unread for good: PipeWire 0.3.65 forgets their pending answer.)

#include <pipewire/extensions/metadata.h>
#include <pipewire/impl-metadata.h>
#include <pipewire/pipewire.h>

#include <csignal>
#include <cstdint>
#include <cstdio>

namespace {

struct Roundtrip {
    pw_main_loop* loop;
    int seq;
};

void onTerminate(void* loop, int) {
    pw_main_loop_quit(static_cast<pw_main_loop*>(loop));
}

void onDone(void* data, std::uint32_t id, int seq) {
    auto& roundtrip = *static_cast<Roundtrip*>(data);
    if (id == PW_ID_CORE && seq == roundtrip.seq) {
        pw_main_loop_quit(roundtrip.loop);
    }
}

} // namespace

int main(int argc, char** argv) {
    pw_init(&argc, &argv);
    auto* loop = pw_main_loop_new(nullptr);
    auto* context = pw_context_new(pw_main_loop_get_loop(loop), nullptr, 0);
    if (!context) {
        std::fprintf(stderr, "cannot make a PipeWire context\n");
        return 1;
    }
    auto* core = pw_context_connect(context, nullptr, 0);
    if (!core) {
        std::fprintf(stderr, "no PipeWire server\n");
        return 1;
    }
    // A round trip first, so the connection is up before the metadata is.
    Roundtrip roundtrip{loop, 0};
    spa_hook listener{};
    static const pw_core_events events = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.done = &onDone;
        return e;
    }();
    pw_core_add_listener(core, &listener, &events, &roundtrip);
    roundtrip.seq = pw_core_sync(core, PW_ID_CORE, 0);
    pw_main_loop_run(loop);

    auto* metadata = pw_context_create_metadata(context, "settings", nullptr, 0);
    const spa_dict_item items[] = {{PW_KEY_METADATA_NAME, "settings"}};
    const spa_dict props = SPA_DICT_INIT_ARRAY(items);
    if (!metadata || !pw_core_export(core, PW_TYPE_INTERFACE_Metadata, &props,
                                     pw_impl_metadata_get_implementation(metadata), 0)) {
        std::fprintf(stderr, "cannot export a metadata\n");
        return 1;
    }
    // One pass of the loop sends the export and reads only what came before
    // it, so no ping for the new metadata can be answered: whoever binds it
    // waits, whatever the timing.
    auto* events_loop = pw_main_loop_get_loop(loop);
    pw_loop_enter(events_loop);
    pw_loop_iterate(events_loop, -1);
    pw_loop_leave(events_loop);
    std::printf("exported\n");
    std::fflush(stdout);
    std::raise(SIGSTOP);
    pw_loop_add_signal(pw_main_loop_get_loop(loop), SIGTERM, &onTerminate, loop);
    pw_main_loop_run(loop);
    pw_core_disconnect(core);
    return 0;
}
