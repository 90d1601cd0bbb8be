// The page's line icons, shared by every surface.

const svgNS = 'http://www.w3.org/2000/svg';
const iconPaths = {
  pin: 'M9.5 2.5l4 4-2.2.8-2.6 2.6.3 2.6-1.3 1.3-2.4-2.4L2 14.7l-.7-.7 3.3-3.3-2.4-2.4 1.3-1.3 2.6.3 2.6-2.6z',
  close: 'M4 4l8 8M12 4l-8 8',
  library: 'M2.5 2.5h4.5v4.5H2.5zM9 2.5h4.5v4.5H9zM2.5 9h4.5v4.5H2.5zM9 9h4.5v4.5H9z',
  settings: 'M8 5.5a2.5 2.5 0 1 0 0 5 2.5 2.5 0 0 0 0-5zM8 1.5v2M8 12.5v2M1.5 8h2M12.5 8h2M3.4 3.4l1.4 1.4M11.2 11.2l1.4 1.4M3.4 12.6l1.4-1.4M11.2 4.8l1.4-1.4',
  back: 'M10 3L5 8l5 5',
  sparkle: 'M8 1.5l1.6 4.9L14.5 8l-4.9 1.6L8 14.5l-1.6-4.9L1.5 8l4.9-1.6z',
  image: 'M2 3h12v10H2zM2 11l3.5-3.5L8 10l2-2 4 4M10.5 6a1 1 0 1 0 0-.01',
  paste: 'M5.5 2.5h5v2h-5zM4 3.5H3v11h10v-11h-1M5.5 8h5M5.5 10.5h5',
};

// A 14-point line icon (decorative; the control carries the label).
export function icon(name) {
  const svg = document.createElementNS(svgNS, 'svg');
  svg.setAttribute('viewBox', '0 0 16 16');
  svg.setAttribute('class', 'icon');
  svg.setAttribute('aria-hidden', 'true');
  const path = document.createElementNS(svgNS, 'path');
  path.setAttribute('d', iconPaths[name]);
  svg.append(path);
  return svg;
}
