// Copying and saving: the shown output, every listed instrument in one source as keldo-list
// prints it for the file, and the shown instrument's note as a WAV file.
import { list } from './list.js';
import { currentFile } from './run.js';
import { shownText } from './shown.js';
import { NOTES, SAMPLE_RATE, renderNote } from './sound.js';
import { say, ui } from './ui.js';
import { wavFile } from './wav.js';

const source = (parts) => new Blob(parts, { type: 'text/plain' });

function download(blob, extension) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = `${currentFile().name.replace(/(.)\.[^.]*$/, '$1')}.${extension}`;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href));
}

async function copy() {
    try {
        await navigator.clipboard.writeText(shownText());
        say('Copied the output.');
    } catch {
        say('The browser did not let this page copy: select the output and copy it by hand.');
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
        text.slice(banner.length).replace(/^@(WT|v|EP)0 = \{$/gm, `@$1${k} = {`))]), 'mml');
}

// The shown instrument's note at the chosen note, as Play sounds it.
export const chosenFrequency = () => NOTES.find((note) => note.name === ui.note.value).frequency;

export function setUpSaving() {
    ui.copy.addEventListener('click', copy);
    ui.save.addEventListener('click', () => download(source([list.entries[list.shown]]), 'mml'));
    ui.saveAll.addEventListener('click', saveAll);
    ui.saveWav.addEventListener('click', () => download(wavFile(renderNote(shownText(), chosenFrequency()), SAMPLE_RATE), 'wav'));
}
