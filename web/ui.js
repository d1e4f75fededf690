// The page's elements, by their ids in camel case (#save-all is ui.saveAll), and its status line.
export const ui = Object.fromEntries([...document.querySelectorAll('[id]')]
    .map((element) => [element.id.replace(/-(.)/g, (_, c) => c.toUpperCase()), element]));

export function say(text) {
    ui.status.textContent = text;
}

// The page's own files: inside the page when it is one file (keldo.html holds each in base64, in
// a data block whose id is the file's name), else from its site.
export async function ownFile(name) {
    const kept = document.getElementById(name);
    if (kept) {
        const bytes = Uint8Array.from(atob(kept.textContent), (c) => c.charCodeAt(0));
        return new Response(bytes, { headers: { 'Content-Type': kept.dataset.type } });
    }
    const response = await fetch(name);
    if (!response.ok)
        throw new Error(`${name}: ${response.status} ${response.statusText}`);
    return response;
}

// A blob: URL of one of the page's scripts: a worker or worklet started from it is held to this
// page's Content-Security-Policy, where one loaded from a file would answer only to the (absent)
// headers of that file.
export async function ownScript(name) {
    return URL.createObjectURL(new Blob([await (await ownFile(name)).blob()], { type: 'text/javascript' }));
}

// The URL an audio worklet's module loads from. A page opened from the disk has no origin of its
// own, and Chromium loads no worklet from such a page's blob: URLs; the script kept inside the
// page, as a data: URL, it does.
export async function ownWorklet(name) {
    const kept = document.getElementById(name);
    return kept ? `data:text/javascript;base64,${kept.textContent}` : ownScript(name);
}
