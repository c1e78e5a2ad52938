// A script's view of managing Relaycast's inputs remotely, through the obs-websocket client
// library obs-websocket-js against the real OBS: creates an input with two RTMP destinations
// on the test's nginx-rtmp and starts it with its own hotkey, changes its bitrate live and
// measures how soon the server receives the new rate, adds and removes destinations while it
// streams, updates it, sends a table of bad requests and deletes it. Checks the EntryListChanged events, that no key
// or passphrase comes back in anything received, and that the settings file and GetEntries
// agree. Prints figures ("figure: ...") and one line per check ("ok: ..." or "FAIL: ...");
// exit status 0 when every check passed.
//
// Usage: node remote_manage_client.mjs --port WS_PORT --rtmp rtmp://127.0.0.1:PORT/live
//            --stat http://127.0.0.1:PORT/stat --settings .../salidas.json --keys K1,K2,K3,PASS
// The library comes from build/node-client/node_modules of the source tree (scripts/test puts
// it there), or from the node_modules folder named by RELAYCAST_NODE_MODULES.

import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = process.env.RELAYCAST_NODE_MODULES ||
    path.join(here, '..', '..', 'build', 'node-client', 'node_modules');
if (!fs.existsSync(path.join(modules, 'obs-websocket-js', 'package.json'))) {
    console.log(`FAIL: obs-websocket-js is not installed in ${modules} ` +
        '(scripts/test installs it; by hand: source scripts/lib/packages.sh; ' +
        'relaycast_node_client)');
    process.exit(1);
}
const { OBSWebSocket, EventSubscription } =
    createRequire(path.join(modules, '..', 'package.json'))('obs-websocket-js');

const { values: args } = parseArgs({ options: {
    port: { type: 'string' }, rtmp: { type: 'string' }, stat: { type: 'string' },
    settings: { type: 'string' }, keys: { type: 'string' } } });
const [firstKey, secondKey, addedKey, passphrase] = args.keys.split(',');
const secrets = [firstKey, secondKey, addedKey, passphrase];

const failures = [];
function check(ok, what) {
    console.log(`${ok ? 'ok' : 'FAIL'}: ${what}`);
    if (!ok) failures.push(what);
    return ok;
}
// A value as short text for a check's line; the secrets given are never printed.
const brief = (value) => {
    let text = JSON.stringify(value) ?? 'undefined';
    for (const secret of secrets) text = text.split(secret).join('<secret>');
    return text.length > 240 ? `${text.slice(0, 240)}...` : text;
};
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const now = () => performance.now();

// Polls `probe` until it returns something truthy; returns that, or null after `ms`.
async function until(probe, ms, every = 200) {
    const deadline = now() + ms;
    for (;;) {
        const value = await probe();
        if (value || now() > deadline) return value || null;
        await sleep(every);
    }
}

// Everything received from OBS, as text, to search for secrets at the end.
const received = [];
const events = [];
const obs = new OBSWebSocket();
obs.on('VendorEvent', (event) => {
    received.push(JSON.stringify(event));
    // The input's destination ids after the change, as a list of ids or of objects holding one.
    const data = event.eventData ?? {};
    if (event.vendorName === 'relaycast' && event.eventType === 'EntryListChanged')
        events.push({ ...data, destinationIds: data.destinationIds ??
            data.destinations?.map((d) => d.destinationId) });
});

async function connect() {
    const deadline = now() + 30000;
    for (;;) {
        try {
            await obs.connect(`ws://127.0.0.1:${args.port}`, undefined,
                { rpcVersion: 1, eventSubscriptions: EventSubscription.Vendors });
            return;
        } catch (error) {
            if (now() > deadline) throw error;
            await sleep(500);
        }
    }
}

// The slowest answer of each management request: the change is made (saved, on the dock, on the
// running input) before the answer leaves.
const slowest = {};

async function vendor(requestType, requestData) {
    const call = { vendorName: 'relaycast', requestType };
    const sent = now();
    if (requestData && Object.keys(requestData).length) call.requestData = requestData;
    let timer;
    const late = new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error(`${requestType}: no answer in 30 s`)), 30000);
    });
    try {
        const answer = await Promise.race([obs.call('CallVendorRequest', call), late]);
        received.push(JSON.stringify(answer));
        slowest[requestType] = Math.max(slowest[requestType] ?? 0, now() - sent);
        return answer.responseData ?? {};
    } finally {
        clearTimeout(timer);
    }
}

async function entry(entryId) {
    return (await vendor('GetEntries')).entries?.find((e) => e.entryId === entryId);
}

// nginx-rtmp's streams by name (the stream key): bytes received and the publishing client.
async function streams() {
    const xml = await new Promise((resolve, reject) => {
        http.get(args.stat, (response) => {
            let body = '';
            response.setEncoding('utf8');
            response.on('data', (chunk) => { body += chunk; });
            response.on('end', () => resolve(body));
        }).on('error', reject);
    });
    const found = new Map();
    for (const [, body] of xml.matchAll(/<stream>([\s\S]*?)<\/stream>/g)) {
        const number = (tag) => Number(new RegExp(`<${tag}>(\\d+)</${tag}>`).exec(body)?.[1] ?? 0);
        const publisher = [...body.matchAll(/<client>([\s\S]*?)<\/client>/g)]
            .map(([, client]) => client).find((client) => client.includes('<publishing/>'));
        if (!publisher) continue;
        found.set(/<name>([^<]*)<\/name>/.exec(body)[1], {
            bytes: number('bytes_in'), bwAudio: number('bw_audio'),
            client: /<id>(\d+)<\/id>/.exec(publisher)[1] });
    }
    return found;
}
const publishing = async (...keys) => {
    const found = await streams();
    return keys.every((key) => found.has(key)) && found;
};
const gone = async (key) => !(await streams()).has(key);

// Waits for an EntryListChanged event; a failed wait names the events received.
async function waitEvent(what, ms = 5000) {
    const found = await until(() => events.find(what), ms, 100);
    return found || (console.log(`  events: ${brief(events)}`), null);
}

async function main() {
    await connect();
    const before = await vendor('GetEntries');
    const collection = before.sceneCollection;
    // A scene of the collection, as its inputs name it. Not obs-websocket's
    // GetCurrentProgramScene: right after a collection switch OBS may have no program scene yet,
    // and that request then throws inside obs-websocket and ends OBS.
    const scene = before.entries?.[0]?.source;

    // The test's settings file holds the profile "Low".
    const { profiles } = await vendor('GetProfiles');
    check(Array.isArray(profiles) && profiles.some((p) => p.name === 'Low' &&
        p.encoder === 'obs_x264' && p.videoKbps === 900 && p.audioKbps === 96),
    `GetProfiles answers the saved profile: ${brief(profiles)}`);

    // An input with two destinations from the profile, its own video rate winning, started.
    const created = await vendor('CreateEntry', {
        name: 'Remote input', source: scene, followsObs: false, width: 640, height: 360,
        profile: 'Low', videoKbps: 600,
        destinations: [{ address: args.rtmp, key: firstKey },
            { address: args.rtmp, key: secondKey }],
    });
    const id = created.entryId;
    const [first, second] = (created.destinations ?? []).map((d) => d.destinationId);
    if (!check(id && first && second && created.destinations.every((d) => d.address === args.rtmp),
        `CreateEntry answers the id and both destinations: ${brief(created)}`)) return;
    // Its hotkeys are registered with the change, not at some later heartbeat.
    const pressed = await obs.call('TriggerHotkeyByName',
        { hotkeyName: `relaycast_start_entry_${id}` }).then(() => true, () => false);
    const listed = await entry(id);
    check(listed?.name === 'Remote input' && listed.videoKbps === 600 && listed.width === 640 &&
        listed.encoder === 'obs_x264' && listed.audioKbps === 96 && listed.source === scene,
    `GetEntries lists the new input with its fields: ${brief(listed)}`);
    check(await waitEvent((e) => e.change === 'created' && e.entryId === id &&
        JSON.stringify(e.destinationIds) === JSON.stringify([first, second])),
    'EntryListChanged "created" with the input and its destination ids');

    const startedAt = now();
    check(pressed, 'the new input\'s start hotkey is found right after CreateEntry');
    const live = await until(() => publishing(firstKey, secondKey), 20000);
    if (!check(live, 'both destinations publish on the server')) return;
    const took = (now() - startedAt) / 1000;
    console.log(`figure: both destinations published ${took.toFixed(1)} s after its hotkey`);

    await bitrateFollows(id);

    // A destination added while live starts at once; the others keep their sessions.
    const sessions = await streams();
    const added = await vendor('AddDestination',
        { entryId: id, address: args.rtmp, key: addedKey });
    const third = added.destinationId;
    check(third && !added.error && added.address === args.rtmp,
        `AddDestination answers the new destination: ${brief(added)}`);
    const three = await until(() => publishing(firstKey, secondKey, addedKey), 15000);
    check(three, 'the added destination publishes');
    check(three && [firstKey, secondKey].every((k) =>
        three.get(k).client === sessions.get(k).client),
        'the other destinations kept their sessions');
    check(await waitEvent((e) => e.change === 'updated' && e.entryId === id &&
        e.destinationIds?.length === 3 && e.destinationIds.includes(third)),
    'EntryListChanged "updated" names the added destination');

    const removed = await vendor('RemoveDestination', { entryId: id, destinationId: second });
    check(removed.destinationId === second && !removed.error,
        `RemoveDestination: ${brief(removed)}`);
    check(await until(() => gone(secondKey), 10000), 'the removed destination stopped publishing');
    const left = await streams();
    check([firstKey, addedKey].every((k) => left.get(k)?.client === three?.get(k)?.client),
        'the remaining destinations kept their sessions');
    check(await waitEvent((e) => e.change === 'updated' && e.entryId === id &&
        JSON.stringify(e.destinationIds) === JSON.stringify([first, third])),
    'EntryListChanged "updated" without the removed destination');

    await liveUpdates(id, first, left);
    await badRequests(id, scene);

    // The file holds the input with its keys protected before it goes.
    await agreement(collection, 'with the input');
    const file = fs.readFileSync(args.settings, 'utf8');
    const ours = JSON.parse(file).colecciones?.[collection]?.entradas?.find((e) => e.id === id);
    const keys = [first, third].map((d) =>
        ours?.destinos?.find((stored) => stored.id === d)?.clave);
    check(keys.every((key) => key?.startsWith('dpapi:')),
        `the settings file holds the input's keys protected: ${brief(keys)}`);
    check(secrets.every((secret) => !file.includes(secret)), 'no plain key in the settings file');

    const deleted = await vendor('DeleteEntry', { entryId: id });
    check(deleted.entryId === id && !deleted.error, `DeleteEntry: ${brief(deleted)}`);
    check(!(await entry(id)), 'GetEntries no longer lists the deleted input');
    check(await waitEvent((e) => e.change === 'removed' && e.entryId === id &&
        Array.isArray(e.destinationIds) && e.destinationIds.length === 0),
    'EntryListChanged "removed" with the input and no destinations');
    check(await until(async () => await gone(firstKey) && await gone(addedKey), 10000),
        'the deleted input\'s streams ended on the server');
    await agreement(collection, 'after the delete');
}

// SetBitrate on the live input: the rate the server receives follows. nginx's bw_video is an
// average over ten-second periods, updated once each, so the rate is taken from the stream's
// byte count, sampled four times a second, over spans of 1.5 s, less the audio as nginx
// averages it (the scene is silent: a few kbit/s, and 0 until its first period ends).
async function bitrateFollows(id) {
    const samples = [];
    let audioKbps = 0;
    const sample = async () => {
        const stream = (await streams()).get(firstKey);
        samples.push({ at: now(), bytes: stream?.bytes ?? 0 });
        audioKbps = (stream?.bwAudio ?? 0) / 1000;
        await sleep(250);
    };
    // The video rate over the 1.5 s from sample i on, or null while not that much is sampled.
    const rate = (i) => {
        const to = samples.findIndex((s) => s.at - samples[i].at >= 1500);
        if (to < 0) return null;
        return ((samples[to].bytes - samples[i].bytes) * 8) / (samples[to].at - samples[i].at) -
            audioKbps;
    };
    const near = (value, target) => value !== null && Math.abs(value - target) <= target / 4;

    // The encoder starts with a burst and may take a moment to settle. A still, silent picture
    // and a loaded machine (frames lagged) may take somewhat less than the rate, never more.
    const settled = (value) => value !== null && value >= 300 && value <= 750;
    let was = null;
    for (const end = now() + 8000; now() < end && !settled(was);) {
        await sample();
        was = rate(Math.max(0, samples.findIndex((s) => s.at >= samples.at(-1).at - 1500) - 1));
    }
    check(settled(was), `the server receives up to 600 kbit/s of video (+25%) before the ` +
        `change: ${Math.round(was)}`);

    const sent = now();
    const answer = await vendor('SetBitrate', { entryId: id, videoKbps: 2500 });
    check(answer.videoKbps === 2500 && answer.live === true && !answer.error,
        `SetBitrate answers the new rate, live: ${brief(answer)}`);
    // The first span starting after the request whose rate is the new one.
    const first = samples.length;
    let followed = null;
    while (followed === null && now() - sent < 8000) {
        await sample();
        for (let i = first; i < samples.length && followed === null; i++)
            if (near(rate(i), 2500)) followed = (samples[i].at - sent) / 1000;
    }
    const rates = samples.slice(first).map((_, i) => rate(first + i)).filter((r) => r !== null);
    if (check(followed !== null && followed <= 5, 'the received rate followed SetBitrate ' +
        `within 5 s: ${rates.slice(0, 16).map(Math.round).join(' ')}`))
        console.log(`figure: the server received 2500 kbit/s of video (±25%, over 1.5 s) from ` +
            `${followed.toFixed(2)} s after SetBitrate on (${Math.round(was)} kbit/s before)`);
    check((await entry(id))?.videoKbps === 2500, 'GetEntries shows the new rate');
}

// UpdateEntry and UpdateDestination while the input streams: what applies live, and what
// needs it stopped.
async function liveUpdates(id, first, sessions) {
    const changed = events.length;
    const update = await vendor('UpdateEntry',
        { entryId: id, name: '  Renamed remotely  ', audioDelayMs: 200, width: 640 });
    check(!update.error && update.live === true, `UpdateEntry of live fields: ${brief(update)}`);
    const updated = await entry(id);
    check(updated?.name === 'Renamed remotely' && updated.audioDelayMs === 200,
        `the name (trimmed) and audio delay applied: ${updated?.name}, ${updated?.audioDelayMs}`);
    check(await waitEvent((e, i) => i >= changed && e.change === 'updated' && e.entryId === id),
        'EntryListChanged "updated" for the update');

    const locked = await vendor('UpdateEntry', { entryId: id, width: 1280, name: 'Not applied' });
    const fields = locked.error?.fields ?? locked.fields ?? [];
    check(locked.error?.code === 'EntryLive' && fields.some((f) => (f?.name ?? f) === 'width'),
        `UpdateEntry of the width while live answers EntryLive naming it: ${brief(locked)}`);
    const key = await vendor('UpdateDestination',
        { entryId: id, destinationId: first, key: `${firstKey}-changed` });
    check(key.error?.code === 'EntryLive',
        `a running destination's key is not changed: ${brief(key)}`);
    const after = await entry(id);
    check(after?.width === 640 && after.name === 'Renamed remotely', 'nothing of them applied');
    const streaming = await streams();
    check([firstKey, addedKey].every((k) => streaming.get(k)?.client === sessions.get(k)?.client),
        'the destinations kept their sessions through the updates');
}

// Bad requests answer an error object, apply nothing, and OBS goes on.
async function badRequests(id, scene) {
    const base = { name: 'Bad', source: scene, followsObs: false };
    const rtmp = args.rtmp;
    const table = [
        ['CreateEntry', { ...base, name: 5 }, 'InvalidArgument'],
        ['CreateEntry', { ...base, videoKbps: 'fast' }, 'InvalidArgument'],
        ['CreateEntry', { ...base, videoKbps: 0 }, 'InvalidArgument'],
        ['CreateEntry', { ...base, audioKbps: 100 }, 'InvalidArgument'],
        ['CreateEntry', { ...base, width: 640, height: 0 }, 'InvalidArgument'],
        ['CreateEntry', { ...base, destinations: rtmp }, 'InvalidArgument'],
        ['CreateEntry', { ...base, name: 'x'.repeat(1 << 20) }, 'InvalidArgument'],
        ['CreateEntry', { ...base, colour: 'red' }, 'UnknownField'],
        ['CreateEntry', { ...base, source: 'No such scene' }, 'UnknownSource'],
        ['CreateEntry', { name: 'No source', followsObs: false }, 'MissingArgument'],
        ['CreateEntry', { ...base, encoder: 'no_such_encoder' }, 'UnknownEncoder'],
        ['CreateEntry', { ...base, profile: 'No such profile' }, 'UnknownProfile'],
        ['CreateEntry', { ...base, destinations: [{ address: 'http://x', key: firstKey }] },
            'InvalidAddress'],
        ['CreateEntry', { ...base, destinations: [{ address: 'srt://127.0.0.1', passphrase }] },
            'InvalidAddress'],
        ['UpdateEntry', undefined, 'MissingArgument'],
        ['UpdateEntry', { entryId: 42 }, 'MissingArgument'], // an id that is no text is missing
        ['UpdateEntry', { entryId: 'nobody', name: 'x' }, 'UnknownEntry'],
        ['UpdateEntry', { entryId: id, matches: 'Scene' }, 'InvalidArgument'],
        ['UpdateEntry', { entryId: id, source: 'No such scene' }, 'UnknownSource'],
        ['UpdateEntry', { entryId: id, name: 'y'.repeat(32768) }, 'InvalidArgument'],
        ['AddDestination', { entryId: id }, 'MissingArgument'],
        ['AddDestination', { entryId: 'nobody', address: rtmp, key: addedKey }, 'UnknownEntry'],
        ['AddDestination', { entryId: id, address: 'srt://127.0.0.1', passphrase },
            'InvalidAddress'],
        ['AddDestination', { entryId: id, address: rtmp, key: 'k'.repeat(40000) },
            'InvalidArgument'],
        ['UpdateDestination', { entryId: id, destinationId: 'nobody', address: rtmp },
            'UnknownDestination'],
        ['RemoveDestination', { entryId: id, destinationId: 'nobody' }, 'UnknownDestination'],
        ['SetBitrate', { entryId: id }, 'MissingArgument'],
        ['SetBitrate', { entryId: id, videoKbps: 'lots' }, 'InvalidArgument'],
        ['SetBitrate', { entryId: id, videoKbps: 2000000 }, 'InvalidArgument'],
        ['DeleteEntry', undefined, 'MissingArgument'],
        ['DeleteEntry', { entryId: 'nobody' }, 'UnknownEntry'],
    ];
    const entriesBefore = (await vendor('GetEntries')).entries?.length;
    const eventsBefore = events.length;
    const wrong = [];
    const sent = now();
    for (const [request, data, code] of table) {
        const answer = await vendor(request, data);
        if (answer.error?.code !== code || typeof answer.error?.message !== 'string' ||
            !answer.error.message)
            wrong.push(`${request} ${brief(data)} answered ${brief(answer)}, not ${code}`);
    }
    console.log(`figure: ${table.length} bad requests answered in ${Math.round(now() - sent)} ms`);
    check(wrong.length === 0,
        `every bad request answers its error${wrong.map((w) => `\n  ${w}`).join('')}`);
    await sleep(500);
    const after = await vendor('GetEntries');
    const ours = after.entries?.find((e) => e.entryId === id);
    check(after.entries?.length === entriesBefore && events.length === eventsBefore &&
        ours?.name === 'Renamed remotely' && ours.videoKbps === 2500 &&
        ours.destinations.length === 2,
    `the bad requests applied nothing and told no change (inputs ${entriesBefore} -> ` +
        `${after.entries?.length}, ${events.length - eventsBefore} events)`);
    const version = await obs.call('GetVersion');
    check(Boolean(version.obsVersion) && (await publishing(firstKey, addedKey)),
        'OBS answers and streams on after the bad requests');
}

// The settings file and GetEntries agree on the collection's inputs.
async function agreement(collection, when) {
    const shape = (list) => JSON.stringify(list.sort((a, b) => (a.id < b.id ? -1 : 1)));
    let answered;
    let stored;
    const same = await until(async () => {
        answered = shape(((await vendor('GetEntries')).entries ?? []).map((e) => ({
            id: e.entryId, name: e.name, videoKbps: e.videoKbps,
            destinations: e.destinations.map((d) => d.destinationId) })));
        const file = JSON.parse(fs.readFileSync(args.settings, 'utf8'));
        stored = shape((file.colecciones?.[collection]?.entradas ?? []).map((e) => ({
            id: e.id, name: e.nombre, videoKbps: e.videoKbps,
            destinations: (e.destinos ?? []).map((d) => d.id) })));
        return answered === stored;
    }, 5000, 250);
    check(same, `the settings file and GetEntries agree on the inputs ${when}` +
        (same ? '' : `:\n  file ${stored}\n  GetEntries ${answered}`));
}

const watchdog = setTimeout(() => {
    console.log('FAIL: the client did not finish within 150 s');
    process.exit(1);
}, 150000);
try {
    await main();
} catch (error) {
    check(false, `the client stopped: ${error.stack ?? error}`);
}
const text = received.join('\n');
check(received.length > 0 && secrets.every((secret) => !text.includes(secret)),
    `no key or passphrase in the ${received.length} answers and events received`);
console.log(`figure: ${events.length} EntryListChanged events received`);
console.log('figure: slowest answer (request to change applied), ms: ' +
    Object.entries(slowest).map(([type, ms]) => `${type} ${ms.toFixed(1)}`).join(', '));
clearTimeout(watchdog);
await obs.disconnect().catch(() => {});
console.log(failures.length ? `${failures.length} checks failed` : 'every check passed');
process.exit(failures.length ? 1 : 0);
