// The player: one voice, as a chip channel. A note of the shown instrument starts from a key
// (keyboard.js) or from Play, as an audio worklet node that renders it with sound.js's Voice; a
// note that starts takes the place of the one sounding at once, and ending the sounding note
// ends the sound, along the model's ramp.
import { pitchMode } from './pitch-mode.js';
import { shownText } from './shown.js';
import { soundOf } from './sound.js';
import { ownWorklet } from './ui.js';

let audio = null;  // made on the first note, as browsers want
let loaded = null;  // the worklet's script, added to it
let sounding = null;  // the note sounding now: its key and its node
const listeners = [];

// `listener` is told the key of the sounding note, or null, whenever that changes.
export function onSounding(listener) {
    listeners.push(listener);
}

function setSounding(note) {
    sounding = note;
    listeners.forEach((listener) => listener(note?.key ?? null));
}

// The note's ramp to silence starts now.
function letGo(note) {
    note.ended = true;
    note.node?.parameters.get('gate').setValueAtTime(0, audio.currentTime);
}

// Starts note `key` (a MIDI note number, or 'play') of the shown instrument at `frequency`, for
// `seconds`, or for as long as it is held when that is null. Resolves to an error message when
// the page could not play it.
export async function startNote(key, frequency, seconds = null) {
    const sound = soundOf(shownText(), pitchMode());
    if (!sound)
        return null;
    if (sounding)
        letGo(sounding);
    const note = { key, node: null, ended: false };
    setSounding(note);
    audio = audio ?? new AudioContext();
    audio.resume();
    loaded = loaded ?? ownWorklet('voice-worklet.js').then((url) => audio.audioWorklet.addModule(url));
    try {
        await loaded;
    } catch (error) {
        loaded = null;
        endNote(key);
        return `The page could not start its sound (${error.message ?? error}).`;
    }
    if (note.ended)  // let go, or replaced, while the worklet loaded
        return null;
    const length = seconds === null ? null : Math.round(seconds * audio.sampleRate);
    note.node = new AudioWorkletNode(audio, 'keldo-voice',
                                     { numberOfInputs: 0, outputChannelCount: [1], processorOptions: { sound, frequency, length } });
    note.node.port.onmessage = () => sounding === note && setSounding(null);  // a note of its own length is over
    note.node.connect(audio.destination);
    return null;
}

// Ends note `key` if it is the one sounding; a note that no longer sounds changes nothing.
export function endNote(key) {
    if (sounding?.key !== key)
        return;
    letGo(sounding);
    setSounding(null);
}

export function stopNotes() {
    if (sounding)
        endNote(sounding.key);
}
