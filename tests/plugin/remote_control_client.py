#!/usr/bin/python3
"""A script's view of Relaycast in the real OBS: connects to obs-websocket 5 on loopback,
subscribes to vendor events, sends every request of the vendor "relaycast", presses the global
hotkeys by name, and checks states, server publishes, events and errors. Then, through the
test-only module "relaycast-driver", renames, duplicates, creates and removes scene collections
and renames and duplicates the profile from OBS's menus, and checks that GetEntries, the dock,
the settings file and the collection files agree after each. Prints its figures. Exit status 0
when every check passed."""

import argparse
import json
import subprocess
import sys
import time

import websocket

VENDORS = 1 << 9  # obs-websocket's event subscription for vendor events


class Client:
    def __init__(self, port):
        deadline = time.monotonic() + 60
        while True:
            try:
                self.ws = websocket.create_connection(f"ws://127.0.0.1:{port}", timeout=10)
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.5)
        hello = json.loads(self.ws.recv())
        assert hello["op"] == 0, hello
        self.ws.send(json.dumps({"op": 1, "d": {"rpcVersion": 1, "eventSubscriptions": VENDORS}}))
        identified = json.loads(self.ws.recv())
        assert identified["op"] == 2, identified
        self.events = []  # (time received, eventData) of DestinationStateChanged, in order
        self.recording_events = []  # eventData of RecordingStateChanged, in order
        self.list_events = []  # eventData of EntryListChanged, in order
        self.requests = set()
        self.next_id = 0

    def _receive(self, timeout):
        self.ws.settimeout(timeout)
        message = json.loads(self.ws.recv())
        if message["op"] == 5 and message["d"]["eventType"] == "VendorEvent":
            event = message["d"]["eventData"]
            if event["vendorName"] == "relaycast" and event["eventType"] == "RecordingStateChanged":
                self.recording_events.append(event["eventData"])
            elif event["vendorName"] == "relaycast" and event["eventType"] == "EntryListChanged":
                self.list_events.append(event["eventData"])
            elif event["vendorName"] == "relaycast":
                assert event["eventType"] == "DestinationStateChanged", event
                self.events.append((time.monotonic(), event["eventData"]))
        return message

    def request(self, request_type, data=None):
        # Newer obs-websocket answers 207 ("OBS is not ready") until OBS has finished loading,
        # which may come after its server accepts clients.
        deadline = time.monotonic() + 60
        while True:
            answer = self._request_once(request_type, data)
            if answer["requestStatus"].get("code") != 207 or time.monotonic() > deadline:
                return answer
            time.sleep(0.5)

    def _request_once(self, request_type, data):
        self.next_id += 1
        request_id = str(self.next_id)
        payload = {"requestType": request_type, "requestId": request_id}
        if data is not None:
            payload["requestData"] = data
        self.ws.send(json.dumps({"op": 6, "d": payload}))
        while True:
            message = self._receive(30)
            if message["op"] == 7 and message["d"]["requestId"] == request_id:
                return message["d"]

    def vendor(self, request_type, data=None):
        """Returns the vendor's response data."""
        self.requests.add(request_type)
        call = {"vendorName": "relaycast", "requestType": request_type}
        # obs-websocket refuses an empty object as requestData.
        if data:
            call["requestData"] = data
        answer = self.request("CallVendorRequest", call)
        assert answer["requestStatus"]["result"], answer
        return answer["responseData"]["responseData"]

    def batch(self, requests, execution_type):
        """Sends a RequestBatch and returns its results, in order."""
        self.next_id += 1
        batch_id = f"batch-{self.next_id}"
        self.ws.send(json.dumps({"op": 8, "d": {
            "requestId": batch_id, "haltOnFailure": False, "executionType": execution_type,
            "requests": requests}}))
        while True:
            message = self._receive(30)
            if message["op"] == 9 and message["d"]["requestId"] == batch_id:
                return message["d"]["results"]

    def drain_events(self, seconds):
        """Keeps reading events for a while."""
        deadline = time.monotonic() + seconds
        while (left := deadline - time.monotonic()) > 0:
            try:
                self._receive(left)
            except websocket.WebSocketTimeoutException:
                pass

    def drive(self, request_type, action="", name=""):
        """Asks the test-only module: "Trigger" a main-window action, or read the "Dock"."""
        answer = self.request("CallVendorRequest", {
            "vendorName": "relaycast-driver", "requestType": request_type,
            "requestData": {"action": action or "-", "name": name}})
        assert answer["requestStatus"]["result"], answer
        return answer["responseData"]["responseData"]["result"]

    def wait_recording(self, entry, state, timeout=20):
        """Reads events until the entry's recording was told `state`."""
        deadline = time.monotonic() + timeout
        while not any(e["entryId"] == entry and e["newState"] == state
                      for e in self.recording_events):
            if (left := deadline - time.monotonic()) <= 0:
                return False
            try:
                self._receive(left)
            except websocket.WebSocketTimeoutException:
                pass
        return True

    def wait_states(self, wanted, timeout=40):
        """Reads events until every destination id in `wanted` reached its state."""
        deadline = time.monotonic() + timeout
        while True:
            latest = {}
            for _, event in self.events:
                latest[event["destinationId"]] = event["newState"]
            if all(latest.get(d) == s for d, s in wanted.items()):
                return True
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            try:
                self._receive(left)
            except websocket.WebSocketTimeoutException:
                pass


failures = []


def check(condition, what):
    print(("ok: " if condition else "FAIL: ") + what)
    if not condition:
        failures.append(what)
    return condition


def publishes(path, key):
    try:
        with open(path) as log:
            return sum(1 for line in log if line.split()[-1:] == [key])
    except OSError:
        return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--publish-log", required=True)
    parser.add_argument("--entry", action="append", required=True)
    parser.add_argument("--stuck-entry", required=True)
    parser.add_argument("--settings", help="the plug-in's settings file, to follow collections")
    parser.add_argument("--scenes", help="OBS's folder of scene collection files")
    args = parser.parse_args()
    main_entry, second_entry = args.entry

    client = Client(args.port)

    listing = client.vendor("GetEntries")
    entries = {e["entryId"]: e for e in listing["entries"]}
    check(listing["sceneCollection"] == "Untitled", "GetEntries names the scene collection")
    check(set(entries) == set(args.entry) | {args.stuck_entry}, "GetEntries lists every entry")
    destinations = [d["destinationId"] for d in entries[main_entry]["destinations"]]
    (first, second), (third,) = destinations, [
        d["destinationId"] for d in entries[second_entry]["destinations"]]
    check(all(d["state"] == "Idle" for e in entries.values() for d in e["destinations"]),
          "everything idle at first")
    check("remote-key" not in json.dumps(listing), "no stream key in GetEntries")

    one = {"entryId": main_entry, "destinationId": first}
    sent = time.monotonic()
    answer = client.vendor("StartDestination", one)
    answered = time.monotonic()
    check(answer.get("state") == "Starting", f"StartDestination answers Starting: {answer}")
    check(client.wait_states({first: "Live"}), "StartDestination: live")
    starting = next(t for t, e in client.events
                    if e["destinationId"] == first and e["newState"] == "Starting")
    print(f"figure: StartDestination answered in {1000 * (answered - sent):.1f} ms, "
          f"its Starting event after {1000 * (starting - sent):.1f} ms")

    deadline = time.monotonic() + 15
    while True:
        live = client.vendor("GetEntries")["entries"]
        figures = next(e for e in live if e["entryId"] == main_entry)["destinations"][0]
        flowing = figures["bitrateKbps"] > 0 and figures["receivedKbps"] > 0
        if flowing or time.monotonic() > deadline:
            break
        time.sleep(0.5)
    check(figures["state"] == "Live" and figures["bitrateKbps"] > 0 and figures["sentBytes"] > 0,
          f"GetEntries reports the live figures: {figures}")
    check(figures["congested"] is False and figures["receivedKbps"] > 0,
          f"GetEntries says what reaches the server of a path that keeps up: {figures}")
    check(publishes(args.publish_log, "remote-key-1") >= 1, "the server took the publish")

    answer = client.vendor("SwitchSource", {"entryId": main_entry, "source": "Other"})
    check("error" not in answer, f"SwitchSource: {answer}")
    switched = next(e for e in client.vendor("GetEntries")["entries"] if e["entryId"] == main_entry)
    check(switched["sending"] == "Other", "the entry sends the other scene")

    client.vendor("StopDestination", one)
    check(client.wait_states({first: "Idle"}), "StopDestination: idle")

    client.vendor("StartEntry", {"entryId": main_entry})
    check(client.wait_states({first: "Live", second: "Live"}), "StartEntry: both live")
    client.vendor("StopEntry", {"entryId": main_entry})
    check(client.wait_states({first: "Idle", second: "Idle"}), "StopEntry: both idle")

    client.vendor("StartAll")
    check(client.wait_states({first: "Live", second: "Live", third: "Live"}), "StartAll: all live")
    client.vendor("StopAll")
    check(client.wait_states({first: "Idle", second: "Idle", third: "Idle"}), "StopAll: all idle")

    for name, state in (("relaycast_start_all", "Live"), ("relaycast_stop_all", "Idle")):
        pressed = client.request("TriggerHotkeyByName", {"hotkeyName": name})
        check(pressed["requestStatus"]["result"], f"hotkey {name} found by name")
        check(client.wait_states({first: state, second: state, third: state}),
              f"hotkey {name}: all {state}")
    check(publishes(args.publish_log, "remote-key-3") >= 2, "the server took every publish")

    def error_of(request_type, data=None):
        return client.vendor(request_type, data).get("error", {}).get("code")

    record_while_streaming(client, second_entry, third)
    check(error_of("StartRecording") == "MissingArgument", "a recording needs its entry")

    check(error_of("StartEntry") == "MissingArgument", "a missing id is an error")
    check(error_of("StartEntry", {"entryId": "nobody"}) == "UnknownEntry", "an unknown entry")
    check(error_of("StartDestination", {"entryId": main_entry, "destinationId": "x"})
          == "UnknownDestination", "an unknown destination")
    check(error_of("SwitchSource", {"entryId": main_entry, "source": "Other"}) == "NotStreaming",
          "switching an idle entry")
    unknown = client.request("CallVendorRequest",
                             {"vendorName": "relaycast", "requestType": "Nothing"})
    check(not unknown["requestStatus"]["result"], "an unknown request type is refused")

    # Every start and stop of the first destination, in order.
    story = [f'{e["oldState"]}->{e["newState"]}' for _, e in client.events
             if e["destinationId"] == first]
    run = ["Idle->Starting", "Starting->Live", "Live->Idle"]
    check(story == run * 4, f"the first destination's events in order: {story}")
    check(all(e["entryId"] in args.entry + [args.stuck_entry] for _, e in client.events),
          "events name their entry")
    honest_answers_and_every_event(client, args, main_entry, first)
    print(f"figure: {len(client.requests)} request types sent, "
          f"{len(client.events)} DestinationStateChanged events received")
    collection = "Untitled"
    if args.settings:
        follow_collections(client, args, one)
        collection = "Renamed"
    # Left connecting to a server that never answers, for the script to quit OBS on.
    client.request("SetCurrentSceneCollection", {"sceneCollectionName": collection})
    deadline = time.monotonic() + 15
    while client.vendor("GetEntries")["sceneCollection"] != collection:
        if time.monotonic() > deadline:
            break
        time.sleep(0.2)
    stuck = client.vendor("StartEntry", {"entryId": args.stuck_entry})
    check("error" not in stuck, f"the entry whose server never answers is starting: {stuck}")
    return 1 if failures else 0


def record_while_streaming(client, entry, destination):
    """A recording started and stopped by requests while the entry streams: told by events,
    listed with its file by GetEntries, and the file plays."""
    client.vendor("StartDestination", {"entryId": entry, "destinationId": destination})
    check(client.wait_states({destination: "Live"}), "streaming before the recording")
    answer = client.vendor("StartRecording", {"entryId": entry})
    check(answer.get("state") in ("Starting", "Live") and answer.get("path", "").endswith(".mkv"),
          f"StartRecording answers with its file: {answer}")
    check(client.wait_recording(entry, "Live"), "RecordingStateChanged: recording")
    time.sleep(3)
    listed = next(e for e in client.vendor("GetEntries")["entries"] if e["entryId"] == entry)
    recording = listed["recording"]
    check(recording["state"] == "Live" and recording["bytes"] > 0 and
          recording["path"] == answer.get("path") and recording["format"] == "mkv",
          f"GetEntries lists the recording: {recording}")
    client.vendor("StopRecording", {"entryId": entry})
    check(client.wait_recording(entry, "Idle"), "RecordingStateChanged: stopped")
    check(client.wait_states({destination: "Live"}, timeout=1), "the stream went on")
    probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_name",
                            "-of", "csv=p=0", recording["path"]], capture_output=True, text=True)
    check(probe.stdout.split() == ["h264", "aac"], f"the recording plays: {probe.stdout.split()}")
    client.vendor("StopDestination", {"entryId": entry, "destinationId": destination})
    check(client.wait_states({destination: "Idle"}), "stream stopped after the recording")


def honest_answers_and_every_event(client, args, main_entry, first):
    one = {"entryId": main_entry, "destinationId": first}
    client.vendor("StartDestination", one)
    check(client.wait_states({first: "Live"}), "live again before the restart macro")

    # A stream deck's restart macro: stop, then at once start.
    before = publishes(args.publish_log, "remote-key-1")
    client.vendor("StopDestination", one)
    answer = client.vendor("StartDestination", one)
    check(answer.get("state") == "Starting", f"a start right after a stop answers Starting: {answer}")
    deadline = time.monotonic() + 20
    while publishes(args.publish_log, "remote-key-1") <= before and time.monotonic() < deadline:
        client.drain_events(0.5)
    check(client.wait_states({first: "Live"}) and
          publishes(args.publish_log, "remote-key-1") == before + 1,
          "the restarted destination streams again")

    # A SerialFrame batch runs on OBS's graphics thread: answered at once, never waiting.
    def vendor_call(request_type):
        return {"requestType": "CallVendorRequest",
                "requestData": {"vendorName": "relaycast", "requestType": request_type}}
    sent = time.monotonic()
    results = client.batch([vendor_call("GetEntries"), vendor_call("StopAll")], 1)
    took = time.monotonic() - sent
    print(f"figure: a SerialFrame batch of two vendor requests answered in {1000 * took:.0f} ms")
    listed = results[0].get("responseData", {}).get("responseData", {}).get("entries", [])
    check(any(e["entryId"] == main_entry for e in listed), "GetEntries answers in a SerialFrame batch")
    refused = results[1].get("responseData", {}).get("responseData", {}).get("error", {})
    check(refused.get("code") == "Unavailable", f"StopAll is refused in a SerialFrame batch: {refused}")
    check(took < 2, "the batch did not wait for the interface thread")

    # A collection switch ends the live destination: told once; switching back tells nothing.
    told = len(client.events)
    created = client.request("CreateSceneCollection", {"sceneCollectionName": "Second"})
    check(created["requestStatus"]["result"], "a second scene collection created")
    client.drain_events(3)
    ended = [f'{e["oldState"]}->{e["newState"]}' for _, e in client.events[told:]
             if e["destinationId"] == first]
    check(ended == ["Live->Idle"], f"the switch told the live destination's end once: {ended}")
    told = len(client.events)
    back = client.request("SetCurrentSceneCollection", {"sceneCollectionName": "Untitled"})
    check(back["requestStatus"]["result"], "back to the first scene collection")
    client.drain_events(3)
    stale = [e for _, e in client.events[told:]]
    check(stale == [], f"switching back told nothing that did not happen now: {stale}")


def follow_collections(client, args, one):
    """Collection and profile operations from OBS's menus with entries, a live destination and
    bound hotkeys: after each, GetEntries, the dock and the files agree."""
    main_entry, second_entry = args.entry
    originals = set(args.entry) | {args.stuck_entry}
    first = one["destinationId"]

    def stored():
        with open(args.settings) as settings:
            return json.load(settings)

    def ids_in(collection):
        return {e["id"] for e in stored()["colecciones"].get(collection, {}).get("entradas", [])}

    def bindings(collection):
        with open(f"{args.scenes}/{collection}.json") as scenes:
            ours = json.load(scenes).get("modules", {}).get("relaycast", {})
        return json.dumps(ours.get("hotkeys", {}).get(main_entry, {}))

    def listing():
        answer = client.vendor("GetEntries")
        return answer["sceneCollection"], {e["entryId"]: e for e in answer["entries"]}

    def figures(step):
        name, entries = listing()
        dock = client.drive("Dock").split("\n")
        shown = [n for n in ("Main", "Second") if n in dock]
        settings = stored()
        counts = {k: len(v.get("entradas", [])) for k, v in settings["colecciones"].items()}
        aside = [(g["coleccion"], len(g["entradas"])) for g in settings.get("apartadas", [])]
        print(f"figure: after {step}: GetEntries '{name}' {len(entries)} entries; dock shows "
              f"{shown}; settings file {counts}, set aside {aside}")
        return name, entries, dock

    client.vendor("StartDestination", one)
    check(client.wait_states({first: "Live"}), "live before the rename")
    started = time.monotonic()
    print("driver:", client.drive("Trigger", "actionRenameSceneCollection", "Renamed"))
    name, entries, dock = figures("rename")
    check(name == "Renamed" and set(entries) == originals, "rename: GetEntries follows")
    # Kept streaming where the host keeps its scenes (29, 30); stopped where it reloads them.
    state = entries.get(main_entry, {"destinations": [{"state": "gone"}]})["destinations"][0]["state"]
    check(state in ("Live", "Idle"), f"rename: the live destination is {state}, with its card")
    check("Main" in dock and "Second" in dock, "rename: the dock shows the entries")
    check(ids_in("Renamed") == originals and "Untitled" not in stored()["colecciones"],
          "rename: the settings file moved the entries")
    check("OBS_KEY_F5" in bindings("Renamed"), f"rename: the entry's binding is kept: "
          f"{bindings('Renamed')}")

    print("driver:", client.drive("Trigger", "actionDupSceneCollection", "Copy"))
    name, entries, dock = figures("duplicate")
    check(name == "Copy" and len(entries) == len(originals) and not set(entries) & originals,
          "duplicate: GetEntries shows copies with their own ids")
    check(all(d["state"] == "Idle" for e in entries.values() for d in e["destinations"]),
          "duplicate: nothing of the copy is live")
    check(ids_in("Renamed") == originals and ids_in("Copy") == set(entries),
          "duplicate: the settings file holds both")
    check("Main" in dock and "Second" in dock, "duplicate: the dock shows the copies")

    print("driver:", client.drive("Trigger", "actionNewSceneCollection", "Fresh"))
    name, entries, dock = figures("new")
    check(name == "Fresh" and not entries and "Main" not in dock, "new: starts empty")
    check(ids_in("Renamed") == originals and len(ids_in("Copy")) == len(originals),
          "new: the other collections keep their entries")

    client.request("SetCurrentSceneCollection", {"sceneCollectionName": "Copy"})
    deadline = time.monotonic() + 15
    while listing()[0] != "Copy" and time.monotonic() < deadline:
        time.sleep(0.2)
    print("driver:", client.drive("Trigger", "actionRemoveSceneCollection"))
    name, entries, dock = figures("remove")
    aside = stored().get("apartadas", [])
    check("Copy" not in stored()["colecciones"] and
          [(g["coleccion"], len(g["entradas"])) for g in aside] == [("Copy", len(originals))],
          "remove: the removed collection's entries are set aside in the settings file")
    check(any("Copy" in line for line in dock) and "Bring here" in dock,
          "remove: the dock offers them back")
    told = len(client.list_events)
    client.drive("Dock", "-", "Bring here")
    hotkeys = client.request("GetHotkeyList")["responseData"]["hotkeys"]
    name, entries, dock = figures("bring here")
    check(len(entries) == len(ids_in(name)) >= 2 and not stored().get("apartadas"),
          "the set-aside entries came into the current collection")
    brought = [(e["change"], e["entryId"]) for e in client.list_events[told:]]
    check(sorted(brought) == sorted(("created", i) for i in entries),
          f"each entry brought here is told as created: {brought}")
    check(all(f"relaycast_start_entry_{i}" in hotkeys for i in entries),
          "the entries brought here have their hotkeys at once")
    check(ids_in("Renamed") == originals, "the renamed collection still has its entries")

    print("driver:", client.drive("Trigger", "actionRenameProfile", "RenamedProfile"))
    print("driver:", client.drive("Trigger", "actionDupProfile", "ProfileCopy"))
    print(f"figure: collection and profile operations took {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    sys.exit(main())
