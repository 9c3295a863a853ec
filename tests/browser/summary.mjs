// Reporter for node --test: the closing "N passed, N failed" line that ./run prints.
export default async function* summary(source) {
  let passed = 0;
  let failed = 0;
  for await (const event of source) {
    // Suites report too; count only the tests inside them.
    if (event.data?.details?.type === 'suite') continue;
    if (event.type === 'test:pass' && !event.data.skip && !event.data.todo) passed += 1;
    if (event.type === 'test:fail') failed += 1;
  }
  yield `${passed} passed, ${failed} failed\n`;
}
