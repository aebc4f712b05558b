// Prints the entries of an M3U file as the independent parser reads them, as JSON:
// {"header": {...}, "items": [{"name", "tvgId", "tvgName", "group", "url"}, ...]}.
'use strict';
const fs = require('fs');
const path = require('path');
const parser = require(path.resolve(process.argv[2], 'node_modules', 'iptv-playlist-parser'));
const text = fs.readFileSync(process.argv[3], 'utf8');
const result = parser.parse(text);
const items = result.items.map((i) => ({
  name: i.name,
  tvgId: i.tvg.id,
  tvgName: i.tvg.name,
  group: i.group.title,
  url: i.url,
}));
process.stdout.write(JSON.stringify({ header: result.header.attrs, items }));
