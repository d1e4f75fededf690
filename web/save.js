// Copying and saving: the shown output; every listed instrument in one source as keldo-list
// prints it for the file; the shown instrument's note as a WAV file; its wave table as a
// single-cycle sample that loops, or as text to paste into a wave editor; and every listed wave
// table at once, in a zip. Each file is named after the file read, the entry and the note, so
// that no two saves of different things share a name. What each does is said apart from the
// file's summary.
import { zipSync } from 'fflate';
import { parseInstrument } from './draw.js';
import { list } from './list.js';
import { currentFile } from './run.js';
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

// The file's name without its last extension.
const stem = () => currentFile().name.replace(/(.)\.[^.]*$/, '$1');
const source = (parts) => new Blob(parts, { type: 'text/plain' });

function download(blob, name) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href));
    tell(`Saved ${name}.`);
}

async function copyText(text, what) {
    try {
        await navigator.clipboard.writeText(text);
        tell(`Copied ${what}.`);
    } catch {
        tell(`The browser did not let this page copy ${what}: select it and copy it by hand.`);
    }
}

// Every listed instrument in one source, as keldo-list prints it for the file: the banner once,
// a line naming the file (its control characters written as \xHH), then each entry's offset
// line and its definitions, numbered across the list.
function saveAll() {
    const texts = list.entries.map((output) => new TextDecoder().decode(output));
    const name = currentFile().name.replace(/[\x00-\x1f\x7f]/g, (c) => `\\x${c.charCodeAt(0).toString(16).padStart(2, '0')}`);
    const banner = texts[0].slice(0, texts[0].indexOf('\n') + 1);
    download(source([banner, `; file ${name}\n`, ...texts.map((text, k) =>
        text.slice(banner.length).replace(/^@(WT|v|EP)0 = \{$/gm, `@$1${k} = {`))]), `${stem()}-all.mml`);
}

// The note chosen for Play and Save as .wav.
const chosenNote = () => NOTES.find((note) => note.name === ui.note.value);
export const chosenFrequency = () => chosenNote().frequency;

function saveNote() {
    const note = chosenNote();
    download(wavFile(renderNote(shownText(), note.frequency), SAMPLE_RATE), `${stem()}-${list.shown}-${note.name.replace('#', 's')}.wav`);
}

const waveOf = (output) => parseInstrument(new TextDecoder().decode(output)).wave.values;
const cycleOf = (wave) => cycleWavFile(centredWave(wave), CYCLE_RATE, A4);
const cycleName = (k) => `${stem()}-${k}-wave.wav`;

// The wave table's values as the table holds them, in decimal or in two upper-case hex digits.
function copyWave() {
    const hex = ui.waveFormat.value === 'hex';
    const values = waveOf(list.entries[list.shown]).map((value) => (hex ? value.toString(16).toUpperCase().padStart(2, '0') : String(value)));
    copyText(values.join(' '), 'the wave\'s values');
}

async function saveAllWaves() {
    const waves = await Promise.all(list.entries.map(async (output, k) =>
        [cycleName(k), new Uint8Array(await cycleOf(waveOf(output)).arrayBuffer())]));
    download(new Blob([zipSync(Object.fromEntries(waves))], { type: 'application/zip' }), `${stem()}-waves.zip`);
}

export function setUpSaving() {
    ui.copy.addEventListener('click', () => copyText(shownText(), 'the output'));
    ui.save.addEventListener('click', () => download(source([list.entries[list.shown]]), `${stem()}-${list.shown}.mml`));
    ui.saveAll.addEventListener('click', saveAll);
    ui.saveWav.addEventListener('click', saveNote);
    ui.saveCycle.addEventListener('click', () => download(cycleOf(waveOf(list.entries[list.shown])), cycleName(list.shown)));
    ui.copyWave.addEventListener('click', copyWave);
    ui.saveAllWaves.addEventListener('click', saveAllWaves);
}
