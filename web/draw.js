// The pictures of an instrument, drawn as SVG from the text keldo printed, so that they show
// exactly what the text says: the wave table as one cycle of the wave, each envelope as one bar
// per entry with its loop point marked where the text puts "|".

const SVG = 'http://www.w3.org/2000/svg';
const WIDTH = 320;
const HEIGHT = 120;
const MARGIN = 6;
// The tables of the sound chips these blocks serve are 4, 5, 6 or 8 bits wide.
const RANGES = [15, 31, 63, 255];

// The entries of one definition ("@v0 = {" to "}"): the text and value of each, and the index of
// the entry that "|" follows (-1 for none). Null when the text holds no such definition.
function parseDefinition(text, name) {
    const body = text.match(new RegExp(`^${name} = \\{\\n([^}]*)\\}$`, 'm'));
    if (!body)
        return null;
    const entries = { texts: [], values: [], loop: -1 };
    for (const token of body[1].split(/\s+/).filter(Boolean)) {
        if (token === '|') {
            entries.loop = entries.texts.length - 1;
        } else {
            entries.texts.push(token);
            entries.values.push(token.startsWith('$') ? parseInt(token.slice(1), 16) : Number(token));
        }
    }
    return entries;
}

// The wave table and the two envelopes in keldo's output, or null when it printed no instrument.
export function parseInstrument(text) {
    const wave = parseDefinition(text, '@WT0');
    const volume = parseDefinition(text, '@v0');
    const pitch = parseDefinition(text, '@EP0');
    return wave && volume && pitch ? { wave, volume, pitch } : null;
}

function add(parent, name, attributes, text) {
    const element = parent.appendChild(document.createElementNS(SVG, name));
    for (const [key, value] of Object.entries(attributes))
        element.setAttribute(key, value);
    if (text !== undefined)
        element.appendChild(document.createElementNS(SVG, 'title')).textContent = text;
    return element;
}

function start(svg, label) {
    svg.replaceChildren();
    svg.setAttribute('viewBox', `0 0 ${WIDTH} ${HEIGHT}`);
    svg.setAttribute('role', 'img');
    svg.setAttribute('aria-label', label);
}

// An empty picture with a word on it: no instrument, or an envelope without entries.
export function drawNothing(svg, label, words) {
    start(svg, label);
    add(svg, 'text', { class: 'empty', x: WIDTH / 2, y: HEIGHT / 2 }).textContent = words;
}

// The range of a wave table or a volume envelope: the smallest of the chips' that holds its
// largest value. The pictures are drawn against it, and the sound is played at it, so that a
// 4-bit table fills its picture, and sounds, as an 8-bit one does.
export function rangeOf(values) {
    const largest = Math.max(0, ...values);
    return RANGES.find((range) => largest <= range);  // every byte is at most 255
}

// One cycle of the wave: each sample held for its share of the cycle.
export function drawWave(svg, { texts, values }) {
    const top = rangeOf(values);
    start(svg, `Wave table: ${values.length} samples from ${Math.min(...values)} to ${Math.max(...values)}, of 0 to ${top}`);
    const step = (WIDTH - 2 * MARGIN) / values.length;
    const x = (i) => MARGIN + i * step;
    const y = (value) => MARGIN + (HEIGHT - 2 * MARGIN) * (1 - value / top);
    add(svg, 'line', { class: 'axis', x1: MARGIN, x2: WIDTH - MARGIN, y1: y(top / 2), y2: y(top / 2) });
    const risers = values.slice(1).map((value, i) => `M${x(i + 1)} ${y(values[i])}V${y(value)}`);
    add(svg, 'path', { class: 'risers', d: risers.join('') });
    values.forEach((value, i) =>
        add(svg, 'line', { class: 'entry', x1: x(i), x2: x(i + 1), y1: y(value), y2: y(value) }, `${i}: ${texts[i]}`));
}

// One bar per entry, from the bottom (volume) or from a zero line (pitch, signed), and a mark
// between the loop entry and the next.
export function drawEnvelope(svg, name, { texts, values, loop }, signed) {
    if (values.length === 0)
        return drawNothing(svg, `${name}: no entries`, 'no entries');
    const extent = signed ? Math.max(1, ...values.map(Math.abs)) : rangeOf(values);
    const loopText = loop >= 0 && loop < values.length ? `, looping after entry ${loop}` : '';
    start(svg, `${name}: ${values.length} entries from ${Math.min(...values)} to ${Math.max(...values)}${loopText}`);
    const slot = (WIDTH - 2 * MARGIN) / values.length;
    const height = HEIGHT - 2 * MARGIN;
    const base = signed ? MARGIN + height / 2 : HEIGHT - MARGIN;
    const scale = signed ? height / 2 / extent : height / extent;
    add(svg, 'line', { class: 'axis', x1: MARGIN, x2: WIDTH - MARGIN, y1: base, y2: base });
    values.forEach((value, i) => {
        const length = Math.abs(value) * scale;
        // Each entry's column is shaded, so that entries of 0 can be counted too.
        add(svg, 'rect', { class: 'slot', x: MARGIN + (i + 0.1) * slot, width: 0.8 * slot, y: MARGIN, height });
        add(svg, 'rect', {
            class: 'entry', x: MARGIN + (i + 0.1) * slot, width: 0.8 * slot,
            y: value < 0 ? base : base - length, height: length,
        }, `${i}: ${texts[i]}`);
    });
    if (loopText) {
        const x = MARGIN + (loop + 1) * slot;
        add(svg, 'line', { class: 'loop', x1: x, x2: x, y1: MARGIN / 2, y2: HEIGHT - MARGIN / 2 }, `loop point, after entry ${loop}`);
    }
}
