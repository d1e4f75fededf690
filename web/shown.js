// The instrument shown: keldo's text for it as the command prints it, its pictures, and the
// buttons that act on it. Showing another ends any note of the one before.
import { parseInstrument, drawWave, drawEnvelope, drawNothing } from './draw.js';
import { stopNotes } from './player.js';
import { ui } from './ui.js';

export function showPictures(text) {
    const instrument = parseInstrument(text);
    if (!instrument) {
        for (const id of ['wave', 'volume', 'pitch'])
            drawNothing(ui[id], 'No instrument', 'no instrument');
        return;
    }
    drawWave(ui.wave, instrument.wave);
    drawEnvelope(ui.volume, 'Volume envelope', instrument.volume, false);
    drawEnvelope(ui.pitch, 'Pitch envelope', instrument.pitch, true);
}

// Why a hit may not be an instrument, for each check keldo-list marks it with.
const DOUBTS = {
    length: 'an envelope is longer than 32 entries, so that it runs on past its values',
    loop: 'an envelope\'s loop index is not below its length',
    cut: 'the file ends before the last byte its definitions are printed from',
    text: 'more than three quarters of its values are text',
    flat: 'its wave\'s 32 values are all equal',
};

// Shows `output`, keldo's bytes, and the checks it fails; the buttons only when `succeeded`, an
// instrument.
export function show(output, succeeded, checks = []) {
    const text = new TextDecoder('shift_jis').decode(output);
    stopNotes();
    ui.mml.textContent = text;
    ui.doubts.textContent = checks.length ? `Doubtful: ${checks.map((check) => DOUBTS[check]).join('; ')}.` : '';
    for (const button of [ui.copy, ui.save, ui.play, ui.saveWav, ui.saveCycle, ui.copyWave, ui.saveFui, ui.copyEnvelopes])
        button.disabled = !succeeded;
    showPictures(text);
    return text;
}

// The text of the instrument shown.
export const shownText = () => ui.mml.textContent;
