// Copying and saving: the shown output; every listed instrument in one source as keldo-list
// prints it for the files read; the shown instrument's note as a WAV file; its wave table as a
// single-cycle sample that loops, or as text to paste into a wave editor; the whole instrument as
// a tracker's instrument file, or its envelopes as text for a tracker's macro fields; and every
// listed wave table, or instrument, at once, in a zip. Each file is named after the file its instrument came from (or what
// was read), the entry and the note, so that no two saves of different things share a name.
// What each does is said apart from the run's summary.
import { zipSync } from 'fflate';
import { parseInstrument } from './draw.js';
import { fuiFile } from './fui.js';
import { checksOf, entryText, list } from './list.js';
import { pitchMode } from './pitch-mode.js';
import { shownText } from './shown.js';
import { NOTES, SAMPLE_RATE, centredWave, renderNote } from './sound.js';
import { ui } from './ui.js';
import { cycleWavFile, wavFile } from './wav.js';

// Played at its own rate, a cycle of 32 entries at 32 x 440 samples a second sounds A4.
const CYCLE_RATE = 32 * 440;
const A4 = 69;

function tell(text) {
    ui.message.textContent = text;
}

// A path without its last extension.
const stem = (path) => path.replace(/(.)\.[^./]*$/, '$1');
// The name of entry k's file without its folders and its last extension.
const entryStem = (k) => stem(list.files[list.fileOf[k]].path.split('/').pop());
// What was read: the one file; the deepest folder that all the files lie in (bank for
// bank/a/x.bin and bank/b/y.bin); or else the first file and how many more (x-and-1-more).
function runStem() {
    const paths = list.files.filter(({ memberOf }) => memberOf === undefined).map(({ path }) => path.split('/'));
    const name = stem(paths[0].at(-1));
    if (paths.length === 1)
        return name;
    let common = paths[0].length - 1;  // how many folders, from the top, every path shares
    for (const path of paths) {
        let i = 0;
        while (i < common && i < path.length - 1 && path[i] === paths[0][i])
            ++i;
        common = i;
    }
    return common > 0 ? paths[0][common - 1] : `${name}-and-${paths.length - 1}-more`;
}
const source = (parts) => new Blob(parts, { type: 'text/plain' });

function download(blob, name, said = '') {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href));
    tell(`Saved ${name}${said}.`);
}

async function copyText(text, what) {
    try {
        await navigator.clipboard.writeText(text);
        tell(`Copied ${what}.`);
    } catch {
        tell(`The browser did not let this page copy ${what}: select it and copy it by hand.`);
    }
}

// A name for a line of text, as keldo-list writes it: a control character as \xHH, a backslash
// as \\.
const escaped = (path) => path.replace(/[\x00-\x1f\x7f\\]/g, (c) => (c === '\\' ? '\\\\' : `\\x${c.charCodeAt(0).toString(16).padStart(2, '0')}`));

// Each different instrument's definitions cut where their number goes, once.
const pieces = new Map();
function numbered(k) {
    const id = list.instrumentOf[k];
    if (!pieces.has(id))
        pieces.set(id, list.instruments[id].definitions.split(/(?<=^@(?:WT|v|EP))0(?= = \{$)/m));
    return pieces.get(id).join(k);
}

// Every listed instrument in one source, as keldo-list prints it for the files read, in their
// order: the banner once, and for each file that opened a line naming it, then each of its
// entries' offset line, the checks it fails and its definitions, numbered across the list. Made
// a few thousand entries at a time, so that a million of them never stand in memory twice.
function saveAll() {
    pieces.clear();
    const parts = [entryText(0).slice(0, entryText(0).indexOf('\n') + 1)];
    let chunk = '';
    for (const { path, opened, first, listed } of list.files) {
        if (opened)
            chunk += `; file ${escaped(path)}\n`;
        for (let k = first; k < first + listed; ++k) {
            const checks = checksOf(k);
            chunk += `; px = ${list.px[k]}\n${checks.length ? `; doubtful: ${checks.join(', ')}\n` : ''}${numbered(k)}`;
            if (chunk.length > 2 ** 20) {
                parts.push(new Blob([chunk]));
                chunk = '';
            }
        }
    }
    parts.push(chunk);
    download(source(parts), `${runStem()}-all.mml`);
}

// The note chosen for Play and Save as .wav.
const chosenNote = () => NOTES.find((note) => note.name === ui.note.value);
export const chosenFrequency = () => chosenNote().frequency;

function saveNote() {
    const note = chosenNote();
    download(wavFile(renderNote(shownText(), note.frequency, pitchMode()), SAMPLE_RATE), `${entryStem(list.shown)}-${list.shown}-${note.name.replace('#', 's')}.wav`);
}

const textOf = entryText;
const waveOf = (k) => parseInstrument(textOf(k)).wave.values;
const cycleOf = (wave) => cycleWavFile(centredWave(wave), CYCLE_RATE, A4);
// In the zip, under its file's path, so that its folders are kept.
const cycleName = (k, folders = false) => `${folders ? stem(list.files[list.fileOf[k]].path) : entryStem(k)}-${k}-wave.wav`;
const everyEntry = () => Array.from({ length: list.count }, (_, k) => k);

// The wave table's values as the table holds them, in decimal or in two upper-case hex digits.
function copyWave() {
    const hex = ui.waveFormat.value === 'hex';
    const values = waveOf(list.shown).map((value) => (hex ? value.toString(16).toUpperCase().padStart(2, '0') : String(value)));
    copyText(values.join(' '), 'the wave\'s values');
}

async function saveAllWaves() {
    const waves = await Promise.all(everyEntry().map(async (k) =>
        [cycleName(k, true), new Uint8Array(await cycleOf(waveOf(k)).arrayBuffer())]));
    download(new Blob([zipSync(Object.fromEntries(waves))], { type: 'application/zip' }), `${runStem()}-waves.zip`);
}

// Entry k as a tracker's instrument, named after it.
const instrumentOf = (k) => fuiFile(textOf(k), `${entryStem(k)}-${k}`, pitchMode());
const heldAt = ({ name, volume }) => `volume entries above ${volume} are held at ${volume}, the ${name}'s top`;

function saveFui() {
    const { bytes, chip, held } = instrumentOf(list.shown);
    download(new Blob([bytes]), `${entryStem(list.shown)}-${list.shown}.fui`, `, for the ${chip.name}${held ? `: its ${heldAt(chip)}` : ''}`);
}

// Every entry's instrument file, under its file's path as in the zip of waves; the message names
// the chips they are for, and any entry whose volume was held.
function saveAllFui() {
    const made = everyEntry().map((k) => ({ k, ...instrumentOf(k) }));
    const files = made.map(({ k, bytes }) => [`${stem(list.files[list.fileOf[k]].path)}-${k}.fui`, bytes]);
    const chips = [...new Set(made.map(({ chip }) => chip.name))];
    const held = made.filter(({ held }) => held);
    const said = `, for the ${chips.join(' and the ')}` + (held.length ? `; in ${held.map(({ k }) => k).join(', ')}, ${heldAt(held[0].chip)}` : '');
    download(new Blob([zipSync(Object.fromEntries(files))], { type: 'application/zip' }), `${runStem()}-instruments.zip`, said);
}

// An envelope as a tracker's macro field takes it pasted: its values in decimal, separated by
// spaces, with "|" before the value that the loop goes back to.
function macroText({ values, loop }) {
    return values.map((value, i) => `${loop >= 0 && i === loop + 1 ? '| ' : ''}${value + 0}`).join(' ');
}

function copyEnvelopes() {
    const { volume, pitch } = parseInstrument(textOf(list.shown));
    copyText(`${macroText(volume)}\n${macroText(pitch)}`, 'the volume and pitch envelopes');
}

export function setUpSaving() {
    ui.copy.addEventListener('click', () => copyText(shownText(), 'the output'));
    ui.save.addEventListener('click', () => download(source([entryText(list.shown)]), `${entryStem(list.shown)}-${list.shown}.mml`));
    ui.saveAll.addEventListener('click', saveAll);
    ui.saveWav.addEventListener('click', saveNote);
    ui.saveCycle.addEventListener('click', () => download(cycleOf(waveOf(list.shown)), cycleName(list.shown)));
    ui.copyWave.addEventListener('click', copyWave);
    ui.saveAllWaves.addEventListener('click', saveAllWaves);
    ui.saveFui.addEventListener('click', saveFui);
    ui.saveAllFui.addEventListener('click', saveAllFui);
    ui.copyEnvelopes.addEventListener('click', copyEnvelopes);
}
