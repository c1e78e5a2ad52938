#!/usr/bin/python3
"""A script's view of Relaycast in the real OBS: connects to obs-websocket 5 on loopback,
subscribes to vendor events, sends every request of the vendor "relaycast", presses the global
hotkeys by name, and checks states, server publishes, events and errors. Prints its figures.
Exit status 0 when every check passed."""

import argparse
import json
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
        self.requests = set()
        self.next_id = 0

    def _receive(self, timeout):
        self.ws.settimeout(timeout)
        message = json.loads(self.ws.recv())
        if message["op"] == 5 and message["d"]["eventType"] == "VendorEvent":
            event = message["d"]["eventData"]
            if event["vendorName"] == "relaycast":
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
    args = parser.parse_args()
    main_entry, second_entry = args.entry

    client = Client(args.port)
    # A second scene to switch to.
    created = client.request("CreateScene", {"sceneName": "Other"})
    check(created["requestStatus"]["result"], "a second scene created")

    listing = client.vendor("GetEntries")
    entries = {e["entryId"]: e for e in listing["entries"]}
    check(listing["sceneCollection"] == "Untitled", "GetEntries names the scene collection")
    check(set(entries) == set(args.entry), "GetEntries lists both entries")
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
    check(all(e["entryId"] in args.entry for _, e in client.events), "events name their entry")
    print(f"figure: {len(client.requests)} request types sent, "
          f"{len(client.events)} DestinationStateChanged events received")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
